#!/bin/sh
# Checks a Boss Rally build folder of the full-size fixture disc against
# independent tools:
#   disc/         equals xorriso's extraction of the data track's ISO,
#                 without the root DirectX folder;
#   music/cd/     holds track02.flac to track13.flac, each decoding with
#                 `flac -d` to exactly the PCM that `bchunk -w` cuts out of
#                 the same BIN/CUE for that track.
#   oracle.sh <fixture dir> <build folder>
set -eu
FIX=$(cd "$1" && pwd)
OUT=$2
[ -d "$OUT" ] || { echo "no build folder at $OUT"; exit 1; }
work=$(mktemp -d "$(dirname "$OUT")/oracle.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

xorriso -osirrox on -indev "$FIX/br.iso" -extract / "$work/ref" >"$work/xorriso.log" 2>&1
chmod -R u+w "$work/ref"
find "$work/ref" -mindepth 1 -maxdepth 1 -type d -iname directx -exec rm -rf {} +
diff -r "$work/ref" "$OUT/disc"
echo "disc/ equals xorriso's extraction"

want=$(seq -f 'track%02g.flac' 2 13 | tr '\n' ' ')
have=$(ls "$OUT/music/cd" | tr '\n' ' ')
[ "$have" = "$want" ] || { echo "music/cd holds: $have"; exit 1; }

# bchunk -w: track01.iso, then a WAV per audio track with a 44-byte header.
(cd "$work" && bchunk -w "$FIX/br.bin" "$FIX/br.cue" t >/dev/null)
rm -f "$work"/t01.iso
for n in $(seq -w 2 13); do
    wav=$work/t$n.wav
    [ "$(dd if="$wav" bs=1 skip=36 count=4 status=none)" = data ] || { echo "$wav: unexpected header"; exit 1; }
    flac -d -s -c --force-raw-format --endian=little --sign=signed "$OUT/music/cd/track$n.flac" |
        cmp -i 0:44 - "$wav"
    rm -f "$wav"
done
echo "every track decodes to bchunk's PCM"
