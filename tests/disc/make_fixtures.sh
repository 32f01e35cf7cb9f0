#!/bin/sh
# Makes the disc reader's fixtures: folder trees, ISOs written by xorriso,
# raw BIN+CUE images made from them by the fixture maker, and xorriso's own
# extraction of each ISO (without the root "directx" folder) as the oracle.
#   make_fixtures.sh <mkdisc> <fixture dir>
# Skipped when the fixtures are newer than this script and the maker.
set -eu
MKDISC=$1
FIX=$2
stamp=$FIX/.stamp
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$MKDISC" ]; then
    exit 0
fi
chmod -R u+w "$FIX" 2>/dev/null || true
rm -rf "$FIX"
mkdir -p "$FIX/src" "$FIX/ref"

rand() { head -c "$2" /dev/urandom > "$1"; }

# Joliet tree: non-ASCII names, the longest name the host file system holds
# with the copy's ".part" suffix (83 three-byte units = 249 bytes), 16 nested levels, an empty file, a
# directory spanning several sectors, sizes around the 128 KiB copy chunk,
# a root DirectX folder (left out) and a directx folder lower down (kept).
j=$FIX/src/joliet
mkdir -p "$j/中文" "$j/DirectX" "$j/sub/directx" "$j/many"
rand "$j/café.txt" 3000
rand "$j/中文/数据.bin" 140000
rand "$j/$(printf '中%.0s' $(seq 83))" 777
: > "$j/empty.dat"
rand "$j/chunk.bin" 131072
rand "$j/chunk_plus.bin" 131073
rand "$j/three_sectors.bin" 6145
rand "$j/DirectX/dsetup.dll" 5000
rand "$j/sub/directx/keep.txt" 10
i=0
while [ $i -lt 150 ]; do rand "$j/many/entry_with_a_longer_name_$i.txt" $((i * 7)); i=$((i + 1)); done
p=$j
for d in 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16; do p=$p/level$d; done
mkdir -p "$p" && rand "$p/leaf.txt" 99

# Primary-only tree (8.3 names with version suffixes on disc).
q=$FIX/src/primary
mkdir -p "$q/SUB" "$q/DIRECTX" "$q/MANY"
rand "$q/README.TXT" 1000
rand "$q/DATA.BIN" 300000
rand "$q/EMPTY.DAT" 0
rand "$q/SUB/INNER.DAT" 4096
rand "$q/DIRECTX/DX.DLL" 100
i=0
while [ $i -lt 150 ]; do rand "$q/MANY/FILE$i.DAT" $i; i=$((i + 1)); done
p=$q
for d in 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16; do p=$p/D$d; done
mkdir -p "$p" && rand "$p/LEAF.TXT" 5

# One 200 MB file.
b=$FIX/src/big
mkdir -p "$b"
rand "$b/BIG.BIN" 209715200
rand "$b/TAIL.TXT" 3

iso() {  # name, extra mkisofs options
    xorriso -as mkisofs --norock $2 -o "$FIX/$1.iso" "$FIX/src/$1" >"$FIX/$1.log" 2>&1
    xorriso -osirrox on -indev "$FIX/$1.iso" -extract / "$FIX/ref/$1" >>"$FIX/$1.log" 2>&1
    chmod -R u+w "$FIX/ref/$1"
    find "$FIX/ref/$1" -mindepth 1 -maxdepth 1 -type d -iname directx -exec rm -rf {} +
}
iso joliet "-J -joliet-long"
iso primary ""
iso big "-J"

# Two audio tracks after the joliet data track: the reader must not care.
rand "$FIX/track2.pcm" 1000000
rand "$FIX/track3.pcm" 300001
"$MKDISC" --iso "$FIX/joliet.iso" --audio "$FIX/track2.pcm" --audio "$FIX/track3.pcm" \
    --bin "$FIX/joliet.bin" --cue "$FIX/joliet.cue"
"$MKDISC" --iso "$FIX/primary.iso" --bin "$FIX/primary.bin" --cue "$FIX/primary.cue"
"$MKDISC" --iso "$FIX/big.iso" --bin "$FIX/big.bin" --cue "$FIX/big.cue"
# The sources and the big ISO are not needed any more.
rm -rf "$FIX/src" "$FIX/big.iso"
touch "$stamp"
