#!/usr/bin/env bash
# Checks that two builds of the program write the same bytes: the same small input goes
# through a fixed set of conversions (preset 0 of every catalogue format, and one join of two
# inputs) with one codec thread in each program folder, and the outputs are compared with cmp.
# Meant for changes that must not change behaviour, such as reworking the engine's structure.
# Ogg files get a random serial number per stream on every run, so before they are compared
# the serial numbers are replaced by their order of appearance and the page checksums cleared
# (python3); every other byte is compared as written.
#
#   bench/engine/same-outputs.sh BEFORE_BIN AFTER_BIN
#
# BEFORE_BIN and AFTER_BIN are program folders holding clipwright-cli (e.g. build/bin). Prints
# one line per conversion and a total; exit code 0 when every output is identical, 1 when any
# differs or fails, 2 for bad arguments. Needs the ffmpeg tool for the input.
set -uo pipefail

if [ $# -ne 2 ] || [ ! -x "$1/clipwright-cli" ] || [ ! -x "$2/clipwright-cli" ]; then
    echo "usage: $0 BEFORE_BIN AFTER_BIN (folders holding clipwright-cli)" >&2
    exit 2
fi
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two seconds of a moving test picture with a tone, and a second clip of another size and
# rate for the join, so that the join scales and resamples.
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=320x240:rate=25:duration=2 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 \
    -c:v mpeg4 -q:v 3 -c:a pcm_s16le -ac 2 "$work/clip.avi" || exit 1
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=176x144:rate=15:duration=1 \
    -f lavfi -i sine=frequency=660:sample_rate=22050:duration=1 \
    -c:v mpeg4 -q:v 3 -c:a pcm_s16le -ac 1 "$work/clip2.avi" || exit 1

# class format preset [merge]
conversions=(
    "video AVI 0" "video MP4 0" "video FLV 0" "video SWF 0" "video MPEG 0" "video RM 0"
    "video WMV 0" "video MOV 0" "video 3GP 0"
    "device iPod 0" "device iPhone 0" "device AppleTV 0" "device PSP 0" "device BlackBerry 0"
    "device MobilePhone 0" "device iPad 0" "device Android 0"
    "audio WAV 0" "audio MP3 0" "audio WMA 0" "audio OGG 0" "audio AAC 0" "audio M4A 0"
    "audio FLAC 0" "audio MP2 0"
    "video AVI 3 merge" "video MP4 15 merge"
)

# Ogg pages: "OggS", version, flags, granule (8), serial (4), page number (4), checksum (4),
# segment count, segment table, data.
normalise_ogg() {
    python3 - "$1" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
serials, pos = {}, 0
while pos + 27 <= len(data) and data[pos:pos + 4] == b"OggS":
    serial = struct.unpack_from("<I", data, pos + 14)[0]
    struct.pack_into("<I", data, pos + 14, serials.setdefault(serial, len(serials)))
    struct.pack_into("<I", data, pos + 22, 0)
    segments = data[pos + 26]
    pos += 27 + segments + sum(data[pos + 27:pos + 27 + segments])
open(sys.argv[1], "wb").write(data)
PY
}

same=0
differ=0
failed=0
for conversion in "${conversions[@]}"; do
    read -r class format preset merge <<<"$conversion"
    name="$class-$format-$preset${merge:+-merge}"
    inputs=("$work/clip.avi")
    extra=()
    if [ -n "$merge" ]; then
        inputs+=("$work/clip2.avi")
        extra=(--merge)
    fi
    ok=1
    for side in before after; do
        bin=$before
        [ $side = after ] && bin=$after
        out="$work/$side/$name"
        mkdir -p "$out"
        if ! "$bin/clipwright-cli" convert --class "$class" --format "$format" \
            --preset "$preset" --threads 1 --out "$out" "${extra[@]}" "${inputs[@]}" \
            >"$out.log" 2>&1; then
            ok=0
        fi
    done
    files_before=$(cd "$work/before/$name" && ls)
    files_after=$(cd "$work/after/$name" && ls)
    if [ $ok = 0 ] || [ -z "$files_before" ] || [ "$files_before" != "$files_after" ]; then
        printf '%-28s FAILED (see the conversion logs)\n' "$name"
        tail -n 3 "$work/before/$name.log" "$work/after/$name.log" | sed 's/^/    /'
        failed=$((failed + 1))
        continue
    fi
    result=same
    bytes=0
    for file in $files_before; do
        bytes=$((bytes + $(stat -c %s "$work/after/$name/$file")))
        if [[ $file == *.ogg ]]; then
            normalise_ogg "$work/before/$name/$file"
            normalise_ogg "$work/after/$name/$file"
        fi
        if ! cmp -s "$work/before/$name/$file" "$work/after/$name/$file"; then
            result="DIFFERS ($(cmp "$work/before/$name/$file" "$work/after/$name/$file" 2>&1 | head -n1))"
        fi
    done
    if [ "$result" = same ]; then
        same=$((same + 1))
        printf '%-28s identical (%d bytes)\n' "$name" "$bytes"
    else
        differ=$((differ + 1))
        printf '%-28s %s\n' "$name" "$result"
    fi
done

total=${#conversions[@]}
echo "total: $total conversions, $same identical, $differ different, $failed failed"
[ $same = "$total" ]
