#!/bin/sh
# bchunk turns the fixture maker's BIN+CUE back into the original ISO and
# the original PCM (padded with silence to whole 2352-byte frames).
#   bchunk_roundtrip.sh <fixture dir>
set -eu
FIX=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bchunk "$FIX/joliet.bin" "$FIX/joliet.cue" "$work/t" >/dev/null
cmp "$work/t01.iso" "$FIX/joliet.iso"
for n in 2 3; do
    pcm=$FIX/track$n.pcm
    size=$(wc -c < "$pcm")
    padded=$(( (size + 2351) / 2352 * 2352 ))
    { cat "$pcm"; head -c $((padded - size)) /dev/zero; } | cmp - "$work/t0$n.cdr"
done
echo "bchunk round trip: ISO and audio tracks equal"
