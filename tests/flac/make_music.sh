#!/bin/sh
# KELVORN_MUSIC_DIR=... make_music.sh OUT SECONDS: decodes the .ogg files of
# KELVORN_MUSIC_DIR (Debian's wesnoth-1.16-music) to raw 16-bit little-endian
# 44.1 kHz stereo, file after file in name order, and keeps exactly SECONDS
# of it. An existing OUT of the right size is reused.
set -eu
out=$1
seconds=$2
music=${KELVORN_MUSIC_DIR:?set KELVORN_MUSIC_DIR to the music folder (KELVORN_MUSIC_DIR of the build tree cache)}
want=$((seconds * 44100 * 4))
if [ -f "$out" ] && [ "$(stat -c %s "$out")" -eq "$want" ]; then exit 0; fi
mkdir -p "$(dirname "$out")"
tmp="$out.tmp.$$"
trap 'rm -f "$tmp"' EXIT
: >"$tmp"
for f in "$music"/*.ogg; do
    ffmpeg -nostdin -v error -i "$f" -f s16le -acodec pcm_s16le -ac 2 -ar 44100 - >>"$tmp"
    [ "$(stat -c %s "$tmp")" -ge "$want" ] && break
done
if [ "$(stat -c %s "$tmp")" -lt "$want" ]; then
    echo "not enough music for $seconds seconds" >&2
    exit 1
fi
truncate -s "$want" "$tmp"
mv "$tmp" "$out"
