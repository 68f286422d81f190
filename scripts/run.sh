#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
if [ -x "$build/bin/clipwright" ]; then
    exec "$build/bin/clipwright" "$@"
fi
exec "$build/bin/clipwright-cli" --help
