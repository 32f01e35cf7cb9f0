#!/bin/sh
# Makes a ~600 MB data track (a few large files and many small ones), its
# ISO by xorriso and its BIN by the fixture maker, then runs bench_disc.
#   run_bench.sh <bench_disc> <mkdisc> <work dir>
set -eu
BENCH=$1
MKDISC=$2
WORK=$3
mkdir -p "$WORK"
if [ ! -f "$WORK/track.bin" ]; then
    rm -rf "$WORK/src"
    mkdir -p "$WORK/src/data" "$WORK/src/small"
    for i in 1 2 3 4 5; do head -c 100000000 /dev/urandom > "$WORK/src/data/big$i.bin"; done
    i=0
    while [ $i -lt 2000 ]; do head -c $((i * 50 + 1)) /dev/urandom > "$WORK/src/small/f$i.dat"; i=$((i + 1)); done
    xorriso -as mkisofs --norock -J -o "$WORK/track.iso" "$WORK/src" >/dev/null 2>&1
    "$MKDISC" --iso "$WORK/track.iso" --bin "$WORK/track.bin" --cue "$WORK/track.cue"
    rm -rf "$WORK/src"
fi
"$BENCH" "$WORK/track.bin" "$WORK/track.iso" "$WORK/out" 3
