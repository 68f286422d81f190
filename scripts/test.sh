#!/usr/bin/env bash
# The one test command: installs what is missing, builds, runs every test with CTest.
# --asan builds into build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

extra=()
if [ "${1:-}" = "--asan" ]; then
    shift
    export CLIPWRIGHT_BUILD_DIR=${CLIPWRIGHT_BUILD_DIR:-$root/build-asan}
    extra+=(-DCLIPWRIGHT_SANITIZE=ON)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh" "${extra[@]}"

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)
cd "$build"
ctest --output-on-failure --timeout 600 -j "$jobs" "$@"
