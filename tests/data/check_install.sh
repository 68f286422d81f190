#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the installed layout: the programs and
# the files they read in lib/clipwright with links in bin/, the desktop entry, software-centre
# data, icon and manual pages under share/; a conversion started through the bin/ link; the
# entries validated when the validators are installed.
set -u
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: install"; exit 1; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }

app=$prefix/lib/clipwright
for f in "$app/lamecore.dll" "$app/icon.ico" "$app/sounds/done.wav" "$app/docs/help.html" \
         "$app"/sounds/*/clipwright.png "$prefix/share/icons/hicolor/256x256/apps/clipwright.png" \
         "$prefix/share/man/man1/clipwright.1.gz" "$prefix/share/man/man1/clipwright-cli.1.gz" \
         "$prefix/share/metainfo/org.clipwright.clipwright.metainfo.xml"; do
    [ -s "$f" ] || fail "$f is missing"
done
for program in clipwright clipwright-cli; do
    [ -x "$app/$program" ] || fail "$app/$program is missing"
    [ "$(readlink -f "$prefix/bin/$program")" = "$(readlink -f "$app/$program")" ] ||
        fail "bin/$program does not lead to lib/clipwright/$program"
done
entry=$prefix/share/applications/clipwright.desktop
grep -qx "Exec=$prefix/bin/clipwright" "$entry" || fail "the desktop entry does not start $prefix/bin/clipwright"
grep -qx "Icon=$prefix/share/icons/hicolor/256x256/apps/clipwright.png" "$entry" ||
    fail "the desktop entry does not name the installed icon"
# The metainfo names the desktop entry that is installed.
grep -q "<launchable type=\"desktop-id\">$(basename "$entry")</launchable>" \
    "$prefix/share/metainfo/org.clipwright.clipwright.metainfo.xml" || fail "the metainfo names another desktop entry"

# A short silent WAV (8 kHz, mono, 16 bit), converted through the link: the program has to
# find its branding file and catalogue beside the real executable.
work=$prefix/work
mkdir -p "$work/out"
samples=4000
le() { # $1 as $2 little-endian bytes, in printf escapes
    local i
    for ((i = 0; i < $2; i++)); do printf '\\x%02x' $((($1 >> (8 * i)) & 255)); done
}
{
    printf "RIFF$(le $((36 + samples * 2)) 4)WAVEfmt $(le 16 4)$(le 1 2)$(le 1 2)"
    printf "$(le 8000 4)$(le 16000 4)$(le 2 2)$(le 16 2)data$(le $((samples * 2)) 4)"
    head -c $((samples * 2)) /dev/zero
} >"$work/silence.wav"
(cd "$work" && "$prefix/bin/clipwright-cli" convert --class audio --format MP3 --preset 0 \
    --out "$work/out" "$work/silence.wav" >"$work/convert.log" 2>&1) ||
    { cat "$work/convert.log"; fail "convert through bin/clipwright-cli"; }
[ -s "$work/out/silence.mp3" ] || fail "no silence.mp3 from the installed program"

if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$entry" || fail "desktop-file-validate"
else
    echo "desktop-file-validate is not installed: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.clipwright.clipwright.metainfo.xml" ||
        fail "appstreamcli validate"
else
    echo "appstreamcli is not installed: metainfo not validated"
fi
[ $failed -eq 0 ] && echo "installed layout checked in $prefix"
exit $failed
