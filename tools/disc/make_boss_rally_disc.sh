#!/bin/sh
# Makes a Boss Rally-like disc: a raw MODE1/2352 BIN with the retail track
# layout (data track in sectors 0..58142, twelve audio tracks at the retail
# INDEX 01 frames, the last one running to the end of a ~650 MB image) and
# its cue sheet. The data track holds BRGlide.dll, a multi-size Boss.ico, a
# root DirectX folder, nested folders and non-ASCII names; the audio is real
# music from the .ogg files in KELVORN_MUSIC_DIR (Debian's wesnoth-1.16-music;
# the build trees pass the folder their cache names).
#
#   KELVORN_MUSIC_DIR=... make_boss_rally_disc.sh MKDISC OUTDIR
#
# Writes OUTDIR/br.bin, br.cue, br.iso, tree/ (the data track's files),
# tracks/tNN.pcm (each track's exact PCM) and digests.txt (fixture digests
# for KELVORN_TEST_DIGESTS). Skips the work when OUTDIR/stamp is newer than
# this script and the maker. Both build trees share one OUTDIR: a lock next
# to it keeps two test runs from making it at the same time.
set -eu
MKDISC=$1
OUT=$2
MUSIC=${KELVORN_MUSIC_DIR:?set KELVORN_MUSIC_DIR to the music folder (KELVORN_MUSIC_DIR of the build tree cache)}
if [ -z "${KELVORN_DISC_LOCKED:-}" ]; then
    mkdir -p "$(dirname "$OUT")"
    KELVORN_DISC_LOCKED=1 exec flock "$OUT.lock" sh "$0" "$@"
fi
if [ -f "$OUT/stamp" ] && [ "$OUT/stamp" -nt "$0" ] && [ "$OUT/stamp" -nt "$MKDISC" ]; then
    exit 0
fi
rm -rf "$OUT"
mkdir -p "$OUT/tree" "$OUT/tracks"
TREE=$OUT/tree

# Deterministic file contents: slices of the (fixed) music package's bytes.
bytes() { # bytes COUNT SKIP > file
    cat "$MUSIC"/*.ogg | dd bs=4096 iflag=skip_bytes,count_bytes skip="$2" count="$1" status=none
}

bytes 307200 0 > "$TREE/BRGlide.dll"
bytes 123456 999 > "$TREE/BOSS.EXE"
mkdir -p "$TREE/DirectX/DRIVERS" "$TREE/DATA/TRACKS/DESERT" "$TREE/DATA/CARS" "$TREE/Musique é" "$TREE/中文"
bytes 200000 5000 > "$TREE/DirectX/DXSETUP.EXE"
bytes 70000 9000 > "$TREE/DirectX/DRIVERS/DSOUND.VXD"
for i in 1 2 3 4 5 6; do
    bytes $((i * 3000000)) $((i * 777777)) > "$TREE/DATA/TRACKS/DESERT/STAGE$i.DAT"
    bytes $((i * 40000 + 17)) $((i * 1234)) > "$TREE/DATA/CARS/CAR$i.MDL"
done
: > "$TREE/DATA/EMPTY.TXT"
echo "Pilote de rallye" > "$TREE/Musique é/lisez-moi été.txt"
echo "拉力赛" > "$TREE/中文/说明.txt"
# The disc's icon, several sizes, the largest PNG-encoded.
convert -size 256x256 xc:navy -fill gold -draw "circle 128,128 128,20" \
    -define icon:auto-resize=256,48,32,16 "$TREE/Boss.ico"

xorriso -as mkisofs -quiet -J -joliet-long -V BOSSRALLY -o "$OUT/br.iso" "$TREE" 2>/dev/null

# Audio: the retail track starts; each track gets exactly its span of real
# music (the files looped), so every sample is known.
STARTS="58143 73672 92830 108609 123574 145903 161707 179480 195905 212407 226932 248677"
END=276480
ffmpeg -v error -y -i "concat:$(ls "$MUSIC"/*.ogg | head -12 | tr '\n' '|' | sed 's/|$//')" \
    -f s16le -ar 44100 -ac 2 "$OUT/music.pcm" 2>/dev/null || {
    # concat: over Ogg files can stop early; fall back to one file at a time.
    : > "$OUT/music.pcm"
    for f in $(ls "$MUSIC"/*.ogg | head -14); do
        ffmpeg -v error -y -i "$f" -f s16le -ar 44100 -ac 2 - >> "$OUT/music.pcm"
    done
}
MUSIC_BYTES=$(stat -c %s "$OUT/music.pcm")
set -- $STARTS $END
n=2
offset=0
ARGS=""
while [ $# -gt 1 ]; do
    start=$1
    shift
    frames=$(($1 - start))
    want=$((frames * 2352))
    name=$(printf 't%02d.pcm' $n)
    : > "$OUT/tracks/$name"
    left=$want
    while [ $left -gt 0 ]; do
        take=$left
        room=$((MUSIC_BYTES - offset))
        [ $take -gt $room ] && take=$room
        dd if="$OUT/music.pcm" iflag=skip_bytes,count_bytes skip=$offset count=$take bs=1M status=none \
            >> "$OUT/tracks/$name"
        offset=$(((offset + take) % MUSIC_BYTES))
        left=$((left - take))
    done
    ARGS="$ARGS --audio $OUT/tracks/$name@$start"
    n=$((n + 1))
done
rm -f "$OUT/music.pcm"

# shellcheck disable=SC2086
"$MKDISC" --iso "$OUT/br.iso" --data-sectors 58143 $ARGS --end-frame $END \
    --bin "$OUT/br.bin" --cue "$OUT/br.cue"

{
    echo "disc_image=$(md5sum < "$OUT/br.bin" | cut -c1-32)"
    echo "cue_sheet=$(md5sum < "$OUT/br.cue" | cut -c1-32)"
    echo "brglide=$(md5sum < "$TREE/BRGlide.dll" | cut -c1-32)"
} > "$OUT/digests.txt"
touch "$OUT/stamp"
