#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs them.
#   scripts/fuzz.sh                    every target for 600 s each, one after the other
#   scripts/fuzz.sh TARGET [SECONDS]   one target (options ini streams pages http probe)
#   scripts/fuzz.sh --build            only build and write the seeds
# The seeds are written at run time into build-fuzz/seeds/<target>; what a run finds goes to
# build-fuzz/corpus/<target>, crashes and slow inputs to build-fuzz/findings/<target>.
# Extra libFuzzer flags can be given in FUZZ_FLAGS.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_FUZZ_DIR:-$root/build-fuzz}
targets=(options ini streams pages http probe)

cc=$(command -v clang-14 || command -v clang || true)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
    echo "error: clang is needed (Debian packages clang-14 and libclang-rt-14-dev)" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCLIPWRIGHT_FUZZ=ON -DCLIPWRIGHT_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_all -j "${FUZZ_JOBS:-2}"

supp="$root/scripts/lsan-suppressions.txt"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

if [ ! -d "$build/seeds/probe" ]; then
    rm -rf "$build/seeds"
    ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/bin/fuzz_make_seeds" "$build/seeds" \
        "$root/data/branding.ini"
fi

if [ "${1:-}" = "--build" ]; then
    exit 0
fi

run() {
    local name=$1 seconds=$2 timeout=10
    [ "$name" = probe ] && timeout=20
    mkdir -p "$build/corpus/$name" "$build/findings/$name"
    echo "== fuzz_$name for $seconds s"
    # shellcheck disable=SC2086
    "$build/fuzz/bin/fuzz_$name" "$build/corpus/$name" "$build/seeds/$name" \
        -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
        -max_len=$([ "$name" = probe ] && echo 262144 || echo 8192) \
        -artifact_prefix="$build/findings/$name/" -print_final_stats=1 ${FUZZ_FLAGS:-}
}

if [ $# -ge 1 ]; then
    found=0
    for t in "${targets[@]}"; do [ "$t" = "$1" ] && found=1; done
    if [ $found -eq 0 ]; then
        echo "error: unknown target '$1' (one of: ${targets[*]})" >&2
        exit 2
    fi
    run "$1" "${2:-600}"
else
    for t in "${targets[@]}"; do
        run "$t" 600
    done
fi
