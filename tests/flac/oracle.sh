#!/bin/sh
# oracle.sh DIR: checks every DIR/NAME.flac that the encoder tests left, with
# its input DIR/NAME.raw (or the file named in DIR/NAME.rawpath):
#   flac -t passes; flac -d gives back the input bytes; metaflac's MD5 is the
#   input's; ffmpeg decodes it to the same samples.
set -u
dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
count=0
fail() { echo "FAIL $name: $*"; failed=$((failed + 1)); }
for f in "$dir"/*.flac; do
    [ -e "$f" ] || { echo "no FLAC files in $dir"; exit 1; }
    name=$(basename "$f" .flac)
    if [ -f "$dir/$name.rawpath" ]; then raw=$(cat "$dir/$name.rawpath"); else raw="$dir/$name.raw"; fi
    [ -f "$raw" ] || { fail "input missing"; continue; }
    count=$((count + 1))
    flac -t -s "$f" 2>"$work/err" || { fail "flac -t: $(cat "$work/err")"; continue; }
    rm -f "$work/d.raw"
    flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$work/d.raw" "$f" 2>"$work/err" ||
        { fail "flac -d: $(cat "$work/err")"; continue; }
    cmp -s "$work/d.raw" "$raw" || fail "flac -d output differs from the input"
    want=$(md5sum <"$raw" | cut -c1-32)
    got=$(metaflac --show-md5sum "$f")
    [ "$got" = "$want" ] || fail "metaflac MD5 $got, input $want"
    ffmpeg -nostdin -v error -i "$f" -f s16le -acodec pcm_s16le - >"$work/ff.raw" 2>"$work/err" ||
        { fail "ffmpeg: $(cat "$work/err")"; continue; }
    cmp -s "$work/ff.raw" "$raw" || fail "ffmpeg output differs from the input"
done
echo "$count files checked, $failed failures"
[ "$failed" -eq 0 ] && [ "$count" -gt 0 ]
