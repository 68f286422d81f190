#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/): throughput and memory figures with their goals.
# Installs what is missing first (the curl tool and the ffmpeg tool are baselines). Extra
# arguments go to every benchmark program, e.g. scripts/bench.sh --runs 1.
# BENCH_ONLY picks programs by name, with or without the bench_ prefix, separated by commas or
# spaces: BENCH_ONLY=convert,longrun scripts/bench.sh
# Timings depend on what else the machine does: the load is printed before every program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
# The ffmpeg tool is the conversion benchmarks' baseline: installed here, for the benchmarks
# only (no test needs it).
if ! command -v ffmpeg >/dev/null && [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q ffmpeg >/dev/null || true
fi

only=()
bench_only=${BENCH_ONLY:-}
for name in ${bench_only//,/ }; do
    only+=("bench_${name#bench_}")
done

cmake -S "$root" -B "$build" -G Ninja >/dev/null
jobs=$(nproc 2>/dev/null || echo 2)
if [ ${#only[@]} -gt 0 ]; then
    cmake --build "$build" --target "${only[@]}" -j "$jobs"
else
    cmake --build "$build" --target benchmarks -j "$jobs"
fi

status=0
ran=0
for program in "$build"/bench/bin/bench_*; do
    [ -x "$program" ] || continue
    name=$(basename "$program")
    if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then
        continue
    fi
    echo "== $name  (load:$(uptime | sed 's/.*load average://'))"
    "$program" "$@" || status=1
    ran=$((ran + 1))
done
if [ "$ran" = 0 ]; then
    echo "bench.sh: no benchmark program ran${bench_only:+ (BENCH_ONLY=$bench_only)}" >&2
    status=1
fi
exit $status
