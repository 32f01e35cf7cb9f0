#!/bin/sh
# A small raw disc for the GUI tests: one MODE1/2352 data track holding a few
# files (big enough to take several copy chunks) and its cue sheet.
#
#   make_small_disc.sh MKDISC OUTDIR
#
# Writes OUTDIR/small.bin and OUTDIR/small.cue. Without the native tree's
# mkdisc it writes nothing and the tests that need the disc skip.
set -eu
MKDISC=$1
OUT=$2
if [ ! -x "$MKDISC" ]; then
    echo "no $MKDISC: build the native tree's mkdisc first; the disc GUI tests will skip"
    exit 0
fi
rm -rf "$OUT"
mkdir -p "$OUT/tree/DATA"
head -c 307200 /dev/zero | tr '\0' 'g' > "$OUT/tree/BRGlide.dll"
head -c 1048576 /dev/zero | tr '\0' 'd' > "$OUT/tree/DATA/STAGE1.DAT"
xorriso -as mkisofs -quiet -J -V BOSSRALLY -o "$OUT/small.iso" "$OUT/tree" 2>/dev/null
"$MKDISC" --iso "$OUT/small.iso" --bin "$OUT/small.bin" --cue "$OUT/small.cue"
rm -rf "$OUT/tree" "$OUT/small.iso"
