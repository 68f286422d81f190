#!/usr/bin/env bash
# Fails when any program in the given folder lists an FFmpeg library as NEEDED.
set -u
dir=$1
found=0
checked=0
for f in "$dir"/*; do
    [ -f "$f" ] && [ -x "$f" ] || continue
    head -c 4 "$f" | grep -q 'ELF' || continue
    checked=$((checked + 1))
    if readelf -d "$f" | grep NEEDED | grep -E 'lib(avcodec|avformat|avutil|swscale|swresample|avfilter|avdevice|postproc)\.so'; then
        echo "FAIL: $f needs a media library at load time"
        found=1
    fi
done
if [ "$checked" -eq 0 ]; then
    echo "FAIL: no programs found in $dir"
    exit 1
fi
echo "checked $checked programs"
exit $found
