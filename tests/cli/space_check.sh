#!/bin/sh
# The free-space check on a destination that is a small tmpfs: below the
# estimate kelvorn-cli stops with exit 1, both figures in MB and nothing
# written; with --no-space-check it builds (a Boss Rally build is smaller
# than its estimate: FLAC is smaller than the PCM it is held against).
#   space_check.sh WORKDIR PROGRAM EMULATOR DISC_DIR
# EMULATOR: "" natively, the Wine runner for the Windows program.
# Exit 77 (skipped) where a tmpfs cannot be mounted (not root).
set -u
work=$1
program=$2
emulator=$3
disc=$4
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/small" "$work/big"
cleanup() {
    umount "$work/small" 2>/dev/null
    umount "$work/big" 2>/dev/null
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=4m kelvorn-space "$work/small" 2>/dev/null; then
    echo "skipped: cannot mount a tmpfs here (root needed)"
    exit 77
fi

host() { if [ -n "$emulator" ]; then printf 'Z:%s' "$1" | tr / '\\'; else printf '%s' "$1"; fi; }
# run NAME DIGESTS ARGS...: the program's exit code in $status, its output
# in $work/NAME.out and .err.
run() {
    name=$1
    digests=$2
    shift 2
    status=0
    KELVORN_TEST_DIGESTS=$(host "$digests") $emulator "$program" "$@" >"$work/$name.out" 2>"$work/$name.err" ||
        status=$?
    tr -d '\r' <"$work/$name.err" >"$work/$name.err.txt"
}
shortfall='^kelvorn-cli: the build needs about [0-9][0-9]* MB, but only [0-9][0-9]* MB are free in .*; make room, or give --no-space-check to build anyway$'

# Top Gear Rally: 7.6 MB of ROM data and the game never fit in 4 MiB.
{ printf '\200\067\022\100'; head -c 8388604 /dev/urandom; } >"$work/rom.z64"
printf 'cartridge_rom=%s\n' "$(md5sum <"$work/rom.z64" | cut -c1-32)" >"$work/rom-digests.txt"
run tgr "$work/rom-digests.txt" --game tgr --rom "$(host "$work/rom.z64")" --dest "$(host "$work/small/games")"
[ $status -eq 1 ] || fail "Top Gear Rally on 4 MiB: exit $status, not 1"
grep -q "$shortfall" "$work/tgr.err.txt" || { cat "$work/tgr.err.txt"; fail "Top Gear Rally: no shortfall line"; }
grep -q 'needs about 8 MB, but only 4 MB' "$work/tgr.err.txt" || fail "Top Gear Rally: the figures are off"
[ -z "$(ls -A "$work/small")" ] || fail "Top Gear Rally: something was written ($(ls -A "$work/small"))"
printf 'Top Gear Rally: %s\n' "$(cat "$work/tgr.err.txt")"

[ -f "$disc/br.bin" ] || { echo "no fixture disc in $disc: the Boss Rally half is left out"; exit 0; }
# Boss Rally: a volume with room for the build but not for its estimate.
run estimate "$disc/digests.txt" --bin "$(host "$disc/br.bin")" --dest "$(host "$work/small/games")"
needed=$(sed -n 's/.*needs about \([0-9]*\) MB.*/\1/p' "$work/estimate.err.txt")
[ -n "$needed" ] || { cat "$work/estimate.err.txt"; fail "Boss Rally: no estimate"; }
size=$((needed * 9 / 10))
mount -t tmpfs -o size=${size}m kelvorn-space "$work/big" || fail "cannot mount $size MiB"
run refused "$disc/digests.txt" --bin "$(host "$disc/br.bin")" --dest "$(host "$work/big/games")"
[ $status -eq 1 ] || fail "Boss Rally on $size MiB: exit $status, not 1"
grep -q "$shortfall" "$work/refused.err.txt" || { cat "$work/refused.err.txt"; fail "Boss Rally: no shortfall line"; }
grep -q "needs about $needed MB, but only [0-9]* MB" "$work/refused.err.txt" || fail "Boss Rally: the figures are off"
[ -z "$(ls -A "$work/big")" ] || fail "Boss Rally: something was written"
printf 'Boss Rally on %s MiB: %s\n' "$size" "$(cat "$work/refused.err.txt")"
run forced "$disc/digests.txt" --bin "$(host "$disc/br.bin")" --dest "$(host "$work/big/games")" --no-space-check
[ $status -eq 0 ] || { cat "$work/forced.err.txt"; fail "Boss Rally with --no-space-check: exit $status"; }
[ -f "$work/big/games/Boss Rally/music/cd/track13.flac" ] || fail "Boss Rally with --no-space-check: no build"
echo "Boss Rally with --no-space-check: built, $(du -sm "$work/big/games" | cut -f1) MiB used of $size"
