#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/): throughput and memory figures with their goals.
# Installs what is missing first (the curl tool is one of the baselines). Extra arguments go
# to every benchmark program, e.g. scripts/bench.sh --size 50 --runs 1.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
# The ffmpeg tool is the conversion benchmark's baseline: installed here, for the benchmarks
# only (no test needs it).
if ! command -v ffmpeg >/dev/null && [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q ffmpeg >/dev/null || true
fi
cmake -S "$root" -B "$build" -G Ninja >/dev/null
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" --target benchmarks -j "$jobs"

status=0
for program in "$build"/bench/bin/bench_*; do
    [ -x "$program" ] || continue
    echo "== $(basename "$program")"
    "$program" "$@" || status=1
done
exit $status
