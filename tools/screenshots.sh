#!/usr/bin/env bash
# Screenshots of every page of the window for the default and the join edition, taken under
# Xvfb, written to docs/screenshots/. Needs the xvfb package (not needed to build or test).
#   tools/screenshots.sh [BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-${CLIPWRIGHT_BUILD_DIR:-$root/build}}
# Absolute, since the join edition's folder links into it.
build=$(cd "$build" && pwd)
out=$root/docs/screenshots

command -v Xvfb >/dev/null || { echo "Xvfb is missing: apt-get install xvfb" >&2; exit 1; }
cmake --build "$build" --target clipwright-screenshots clipwright-screenshots-download clipwright-screenshots-convert clipwright-cli artwork branding data_files

display=${SCREENSHOTS_DISPLAY:-:97} # another free display when :97 is taken
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$join"' EXIT
join=$(mktemp -d)
sleep 1

shots=$build/tools/bin/clipwright-screenshots
export DISPLAY=$display QT_QPA_PLATFORM=xcb
"$shots" "$build/bin" "$out" default
# The downloader's pages during a run against the fake video service.
"$build/tools/bin/clipwright-screenshots-download" "$build/bin" "$out" download
# The conversion pages with generated files and a real run.
"$build/tools/bin/clipwright-screenshots-convert" "$build/bin" "$out" convert

# The join edition: the same program folder with the join branding file.
for item in sounds docs icon.ico; do ln -s "$build/bin/$item" "$join/$item"; done
"$build/bin/clipwright-cli" brand scramble "$root/data/branding-join.ini" "$join/lamecore.dll"
"$shots" "$join" "$out" join

# The output page under each of the other window layouts (branding value Skin).
for skin in 1 2 3; do
    rm -f "$join/lamecore.dll"
    sed "s/^Skin=.*/Skin=$skin/" "$root/data/branding.ini" > "$join/branding-skin.ini"
    "$build/bin/clipwright-cli" brand scramble "$join/branding-skin.ini" "$join/lamecore.dll"
    "$shots" "$join" "$out" "skin$skin" step2
done
