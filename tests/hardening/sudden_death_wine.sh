#!/bin/sh
# Sudden death under Wine: the Windows kelvorn-cli-testing.exe replaces an
# earlier build and is killed with SIGKILL after a delay, the delays spread
# evenly over a whole build. Windows builds use the aside scheme, so a kill
# between its two renames may leave the build folder missing with the
# earlier build complete under ".Boss Rally.replaced"; any other state must
# be the complete earlier build or the complete new one. The next build must
# succeed, install the new build and leave no staging or aside folder.
#
#   sudden_death_wine.sh CLI_EXE MKDISC WORK WINE_RUN [POINTS]
set -eu
CLI=$1
MKDISC=$2
WORK=$3
WINE_RUN=$4
POINTS=${5:-30}
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$WORK"
sh "$HERE/../../tools/disc/make_small_disc.sh" "$MKDISC" "$WORK/disc"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
export KELVORN_TEST_DIGESTS="$(winpath "$WORK/disc/digests.txt")"
BIN="$(winpath "$WORK/disc/sd.bin")"
DEST="$WORK/dest"
FOLDER="$DEST/Boss Rally"
STAGING="$DEST/.Boss Rally.building"
ASIDE="$DEST/.Boss Rally.replaced"
fail() { echo "FAIL: $*" >&2; exit 1; }
manifest() {
    (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r p; do
        if [ -d "$p" ]; then echo "D $p"; else echo "F $p $(md5sum < "$p" | cut -c1-32)"; fi
    done)
}
build() { "$WINE_RUN" "$CLI" --bin "$BIN" --dest "$(winpath "$DEST")" --replace > "$WORK/out.txt" 2>&1; }
make_earlier() { echo "the earlier build" > "$FOLDER/earlier.txt"; }

rm -rf "$DEST"
build || { cat "$WORK/out.txt"; fail "the first build failed"; }
manifest "$FOLDER" > "$WORK/new.txt"
make_earlier
manifest "$FOLDER" > "$WORK/earlier.txt"
# How long one replacing build takes, Wine's start included (milliseconds):
# the longest of three. The kills spread over 1.3 times that, so the last
# ones fall on the final renames or find the build done.
span=0
for _ in 1 2 3; do
    t0=$(date +%s%N)
    build || fail "the timed build failed"
    t=$((($(date +%s%N) - t0) / 1000000))
    [ $t -gt $span ] && span=$t
    make_earlier
done

: > "$WORK/results.txt"
i=0
while [ $i -lt "$POINTS" ]; do
    delay=$((span * 13 * (i + 1) / (10 * POINTS)))
    "$WINE_RUN" "$CLI" --bin "$BIN" --dest "$(winpath "$DEST")" --replace > "$WORK/out.txt" 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
    killed=yes
    kill -9 $pid 2>/dev/null || killed="no (done)"
    wait $pid 2>/dev/null || true
    found=missing
    if [ -d "$FOLDER" ]; then
        manifest "$FOLDER" > "$WORK/now.txt"
        if cmp -s "$WORK/now.txt" "$WORK/earlier.txt"; then found=earlier
        elif cmp -s "$WORK/now.txt" "$WORK/new.txt"; then found=new
        else diff "$WORK/earlier.txt" "$WORK/now.txt" | head >&2; fail "killed after $delay ms: the build folder is partial"; fi
    else
        [ "$(manifest "$ASIDE")" = "$(cat "$WORK/earlier.txt")" ] ||
            fail "killed after $delay ms: the build folder is missing and no complete earlier build is aside"
    fi
    left=""
    [ -e "$STAGING" ] && left="$left staging"
    [ -e "$ASIDE" ] && left="$left aside"
    build || { cat "$WORK/out.txt" >&2; fail "after a kill at $delay ms the next build fails"; }
    manifest "$FOLDER" > "$WORK/now.txt"
    cmp -s "$WORK/now.txt" "$WORK/new.txt" || fail "after a kill at $delay ms the next build is not whole"
    [ ! -e "$STAGING" ] && [ ! -e "$ASIDE" ] || fail "after a kill at $delay ms a leftover stays"
    echo "$delay ms of $span|$killed|$found|${left:- none}" >> "$WORK/results.txt"
    make_earlier
    i=$((i + 1))
done
echo "kill after|killed|build folder after the kill|leftovers after the kill"
cat "$WORK/results.txt"
echo "sudden death under Wine: $POINTS timed kills, every build folder whole or restorable, every next build clean"
