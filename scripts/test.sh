#!/usr/bin/env bash
# The one test command: installs what is missing, builds, runs every test with CTest.
# --asan builds into build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer.
# --tsan builds the threaded suites (label "threads": engine, conversion run, download queue,
# net, base) into build-tsan/ with ThreadSanitizer and runs those.
# --repeat N (after --asan or --tsan when given) runs the whole suite N times in a row, each
# run to its end, and fails when any run failed; the result of every run is printed at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

extra=()
targets=()
labels=()
if [ "${1:-}" = "--asan" ]; then
    shift
    export CLIPWRIGHT_BUILD_DIR=${CLIPWRIGHT_BUILD_DIR:-$root/build-asan}
    # Light optimisation and line tables only: the instrumented build of everything stays
    # affordable, and reports still name files and lines.
    extra+=(-DCLIPWRIGHT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
            "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1")
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
elif [ "${1:-}" = "--tsan" ]; then
    shift
    export CLIPWRIGHT_BUILD_DIR=${CLIPWRIGHT_BUILD_DIR:-$root/build-tsan}
    extra+=(-DCLIPWRIGHT_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
            "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1")
    # Only what the threaded suites need: the window and the other suites stay out of the
    # instrumented build.
    targets+=(test_base test_engine test_engine_loader test_engine_encoder test_engine_sideroads
              test_convert_run test_download test_net)
    labels+=(-L threads)
    export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$root/scripts/tsan-suppressions.txt:second_deadlock_stack=1:history_size=4}
fi
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

repeat=1
if [ "${1:-}" = "--repeat" ]; then
    if ! [[ "${2:-}" =~ ^[1-9][0-9]*$ ]]; then
        echo "test.sh: --repeat needs a number of runs, 1 or more" >&2
        exit 2
    fi
    repeat=$2
    shift 2
fi

"$root/scripts/setup.sh"
if [ ${#targets[@]} -gt 0 ]; then
    cmake -S "$root" -B "$build" -G Ninja "${extra[@]}" >/dev/null
    cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"
else
    "$root/scripts/build.sh" "${extra[@]}"
fi

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)
cd "$build"
if [ "$repeat" = 1 ]; then
    ctest --output-on-failure --timeout 600 -j "$jobs" "${labels[@]}" "$@"
    exit
fi
results=()
failed=0
for ((run = 1; run <= repeat; run++)); do
    echo "== run $run of $repeat  (load:$(uptime | sed 's/.*load average://'))"
    start=$(date +%s)
    if ctest --output-on-failure --timeout 600 -j "$jobs" "${labels[@]}" "$@"; then
        results+=("run $run: passed in $(($(date +%s) - start)) s")
    else
        results+=("run $run: FAILED after $(($(date +%s) - start)) s")
        failed=1
    fi
done
printf '%s\n' "${results[@]}"
exit $failed
