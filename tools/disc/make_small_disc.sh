#!/bin/sh
# A small Boss Rally-like disc for the crash, fault and GUI tests: a data
# track with BRGlide.dll, Boss.ico, a DirectX folder and a few megabytes of
# files (several copy chunks each), then three short audio tracks of real
# music from the .ogg files in KELVORN_MUSIC_DIR. Each build from it takes a
# second or two.
#
#   KELVORN_MUSIC_DIR=... make_small_disc.sh MKDISC OUTDIR
#
# Writes OUTDIR/sd.bin, sd.cue and digests.txt (for KELVORN_TEST_DIGESTS).
# Skips the work when OUTDIR/stamp is newer than this script and the maker.
set -eu
MKDISC=$1
OUT=$2
MUSIC=${KELVORN_MUSIC_DIR:?set KELVORN_MUSIC_DIR to the music folder (KELVORN_MUSIC_DIR of the build tree cache)}
if [ -f "$OUT/stamp" ] && [ "$OUT/stamp" -nt "$0" ] && [ "$OUT/stamp" -nt "$MKDISC" ]; then
    exit 0
fi
rm -rf "$OUT"
mkdir -p "$OUT/tree/DirectX" "$OUT/tree/DATA/TRACKS" "$OUT/tree/DATA/CARS"
T=$OUT/tree
bytes() { # bytes COUNT SKIP > file
    cat "$MUSIC"/*.ogg | dd bs=4096 iflag=skip_bytes,count_bytes skip="$2" count="$1" status=none
}
bytes 150000 0 > "$T/BRGlide.dll"
bytes 90000 7000 > "$T/BOSS.EXE"
bytes 50000 9000 > "$T/DirectX/DXSETUP.EXE"
for i in 1 2 3; do
    bytes $((i * 700000 + 13)) $((i * 333333)) > "$T/DATA/TRACKS/STAGE$i.DAT"
    bytes $((i * 20000 + 7)) $((i * 4321)) > "$T/DATA/CARS/CAR$i.MDL"
done
: > "$T/DATA/EMPTY.TXT"
convert -size 48x48 xc:navy -fill gold -draw "circle 24,24 24,6" -define icon:auto-resize=48,32,16 "$T/Boss.ico"
xorriso -as mkisofs -quiet -J -V SMALLDISC -o "$OUT/sd.iso" "$T" 2>/dev/null

n=0
ARGS=""
for f in $(ls "$MUSIC"/*.ogg | head -3); do
    n=$((n + 1))
    ffmpeg -v error -y -ss 10 -t $((2 + n)) -i "$f" -f s16le -ar 44100 -ac 2 "$OUT/t$n.pcm"
    ARGS="$ARGS --audio $OUT/t$n.pcm"
done
# shellcheck disable=SC2086
"$MKDISC" --iso "$OUT/sd.iso" $ARGS --bin "$OUT/sd.bin" --cue "$OUT/sd.cue"
rm -f "$OUT"/t*.pcm "$OUT/sd.iso"
{
    echo "disc_image=$(md5sum < "$OUT/sd.bin" | cut -c1-32)"
    echo "cue_sheet=$(md5sum < "$OUT/sd.cue" | cut -c1-32)"
    echo "brglide=$(md5sum < "$T/BRGlide.dll" | cut -c1-32)"
} > "$OUT/digests.txt"
touch "$OUT/stamp"
