# clipwright-cli script FILE: echoes and alerts on stdout, errors worded with a one-based line,
# exit 1 after an error, 2 for bad arguments.
file(WRITE ${WORK}/good.js "var s = 'he';\nHost.Echo(s + 'llo');\nHost.Alert('world');\n")
execute_process(COMMAND ${CLI} script ${WORK}/good.js RESULT_VARIABLE rc OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "hello\nworld\n")
  message(FATAL_ERROR "good script: rc=${rc} out=[${out}] err=[${err}]")
endif()

file(WRITE ${WORK}/bad.js "Host.Echo('first');\n\nFoo.Bar();\nHost.Echo('never');\n")
execute_process(COMMAND ${CLI} script ${WORK}/bad.js RESULT_VARIABLE rc OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT out STREQUAL "first\n"
   OR NOT err MATCHES "Error: Line number 3, Foo is not defined")
  message(FATAL_ERROR "bad script: rc=${rc} out=[${out}] err=[${err}]")
endif()

execute_process(COMMAND ${CLI} script RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 2)
  message(FATAL_ERROR "missing file argument: rc=${rc}")
endif()
execute_process(COMMAND ${CLI} script ${WORK}/does-not-exist.js RESULT_VARIABLE rc
  OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR err STREQUAL "")
  message(FATAL_ERROR "unreadable file: rc=${rc} err=[${err}]")
endif()
execute_process(COMMAND ${CLI} script --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "usage: clipwright-cli script")
  message(FATAL_ERROR "help: rc=${rc} out=[${out}]")
endif()
