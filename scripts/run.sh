#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window. Without a display (no DISPLAY and
# no WAYLAND_DISPLAY) it says so and points to the command-line front end instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CLIPWRIGHT_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
    echo "Start scripts/run.sh from a desktop session, or use the command-line front end:"
    echo "    $build/bin/clipwright-cli --help"
    exit 1
fi
exec "$build/bin/clipwright" "$@"
