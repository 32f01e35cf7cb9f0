#!/bin/sh
# bchunk turns the fixture maker's BIN+CUE back into the original ISO and
# the original PCM (padded with silence to whole 2352-byte frames), for the
# plain layout of the fixtures and for a layout with a padded data track,
# tracks at given frames and a padded end, as the retail disc needs.
#   bchunk_roundtrip.sh <mkdisc> <fixture dir>
set -eu
MKDISC=$1
FIX=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# expect <file> <frames>: the track's bytes are <file> then silence, in
# exactly <frames> frames of 2352 bytes (or 2048-byte sectors for the ISO).
expect() {
    size=$(wc -c < "$1")
    total=$(($3 * $4))
    { cat "$1"; head -c $((total - size)) /dev/zero; } | cmp - "$2"
}
frames() { echo $(( ($(wc -c < "$1") + 2351) / 2352 )); }
sectors() { echo $(( $(wc -c < "$1") / 2048 )); }

bchunk "$FIX/joliet.bin" "$FIX/joliet.cue" "$work/t" >/dev/null
cmp "$work/t01.iso" "$FIX/joliet.iso"
expect "$FIX/track2.pcm" "$work/t02.cdr" "$(frames "$FIX/track2.pcm")" 2352
expect "$FIX/track3.pcm" "$work/t03.cdr" "$(frames "$FIX/track3.pcm")" 2352

# Padded layout: data track of iso+10 sectors, track 2 after a 5-frame gap
# (bchunk counts the gap into the data track), track 3 at a later frame,
# the BIN ending 7 frames after track 3's audio.
s=$(sectors "$FIX/joliet.iso")
data=$((s + 10))
t2=$((data + 5))
t3=$((t2 + $(frames "$FIX/track2.pcm") + 3))
end=$((t3 + $(frames "$FIX/track3.pcm") + 7))
"$MKDISC" --iso "$FIX/joliet.iso" --data-sectors $data --audio "$FIX/track2.pcm@$t2" \
    --audio "$FIX/track3.pcm@$t3" --end-frame $end --bin "$work/p.bin" --cue "$work/p.cue"
[ "$(wc -c < "$work/p.bin")" -eq $((end * 2352)) ]
grep -q "INDEX 01 $(printf '%02d:%02d:%02d' $((t3 / 4500)) $((t3 / 75 % 60)) $((t3 % 75)))" "$work/p.cue"
bchunk "$work/p.bin" "$work/p.cue" "$work/p" >/dev/null
expect "$FIX/joliet.iso" "$work/p01.iso" $t2 2048
expect "$FIX/track2.pcm" "$work/p02.cdr" $((t3 - t2)) 2352
expect "$FIX/track3.pcm" "$work/p03.cdr" $((end - t3)) 2352
echo "bchunk round trip: ISO and audio tracks equal"
