#!/usr/bin/env bash
# The one test command: installs what is missing, builds, runs every test with CTest.
# --asan builds into build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

extra=()
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
fi
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh" "${extra[@]}"

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)
cd "$build"
ctest --output-on-failure --timeout 600 -j "$jobs" "$@"
