#!/bin/sh
# Durability: a replacing build flushes every file and folder of the new
# build to the disk before it removes anything of the earlier build, so that
# a power cut just after the swap cannot leave the new build's names with
# empty contents and the earlier build already gone. Checked on the system
# calls of one replacing build of the small disc (strace -y names every
# descriptor's file): each file and folder of the finished build must have
# been fsync'd, under its staging name, before the first removal inside the
# earlier build.
#
#   durable_build.sh CLI MKDISC WORK
#
# Needs strace; exits 77 (skipped) without it.
set -eu
CLI=$1
MKDISC=$2
WORK=$3
HERE=$(cd "$(dirname "$0")" && pwd)
if ! command -v strace >/dev/null 2>&1; then
    echo "SKIPPED: strace is not installed (package strace)"
    exit 77
fi
mkdir -p "$WORK"
sh "$HERE/../../tools/disc/make_small_disc.sh" "$MKDISC" "$WORK/disc"
export KELVORN_TEST_DIGESTS="$WORK/disc/digests.txt"
export ASAN_OPTIONS=detect_leaks=0
BIN="$WORK/disc/sd.bin"
DEST="$WORK/dest"
FOLDER="$DEST/Boss Rally"
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$DEST"
"$CLI" --bin "$BIN" --dest "$DEST" > "$WORK/out.txt" 2>&1 || { cat "$WORK/out.txt"; fail "the first build failed"; }
echo "the earlier build" > "$FOLDER/earlier.txt"

for scheme in exchange aside; do
    inject=""
    # Refusing the atomic exchange makes the build rename the earlier one aside.
    [ $scheme = aside ] && inject="-e inject=renameat2:error=EINVAL"
    # shellcheck disable=SC2086
    strace -f -qq -y -e trace=openat,fsync,fdatasync,unlink,unlinkat,rmdir,rename,renameat2 $inject \
        -o "$WORK/trace.txt" "$CLI" --bin "$BIN" --dest "$DEST" --replace > "$WORK/out.txt" 2>&1 ||
        { cat "$WORK/out.txt"; fail "$scheme: the replacing build failed"; }
    [ ! -e "$FOLDER/earlier.txt" ] || fail "$scheme: the earlier build is still in place"
    # Everything the new build holds, as it was named while staged.
    (cd "$FOLDER" && find . -mindepth 1) | sed "s|^\.|$DEST/.Boss Rally.building|" > "$WORK/entries.txt"
    echo "$DEST/.Boss Rally.building" >> "$WORK/entries.txt"
    awk -v scheme=$scheme '
        FNR == NR { want[$0] = 1; total++; next }
        # The swap: after it, removals under the staging or aside name
        # remove the earlier build.
        /renameat2\(/ && / = 0$/ { swapped = 1 }
        /rename\(/ && index($0, ".Boss Rally.building\", \"") && / = 0$/ { swapped = 1 }
        swapped && /^[0-9]+ +(unlink|unlinkat|rmdir)\(/ && !removal { removal = FNR }
        !removal && /^[0-9]+ +(fsync|fdatasync)\(/ && / = 0$/ {
            p = $0; sub(/^[^<]*</, "", p); sub(/>\).*$/, "", p)
            if (p in want && !(p in synced)) { synced[p] = 1; n++ }
        }
        END {
            if (!removal) { print scheme ": no removal of the earlier build in the trace"; exit 1 }
            for (p in want) if (!(p in synced)) { print scheme ": not flushed before the first removal: " p; bad = 1 }
            if (bad) exit 1
            printf "%s: %d of %d files and folders flushed before the earlier build was touched\n", scheme, n, total
        }' "$WORK/entries.txt" "$WORK/trace.txt" || fail "$scheme: the new build was not durable in time"
    echo "the earlier build" > "$FOLDER/earlier.txt"
done
echo "PASS"
