#!/usr/bin/env bash
# Configures and builds into build/ (or $CLIPWRIGHT_BUILD_DIR). Extra arguments go to cmake's
# configure step, e.g. -DCLIPWRIGHT_SANITIZE=ON.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" -j "$jobs"
