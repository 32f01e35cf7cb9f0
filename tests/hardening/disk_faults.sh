#!/bin/sh
# Failing disks under a replacing build: the destination is a small tmpfs
# whose size is set, build after build, to what the earlier build uses plus
# a growing allowance, so that it fills up while the game executable is
# written, while the disc's files are copied, while the soundtrack is
# encoded, at the icon and at the marker. Every such build must fail with a
# "cannot write ..." line naming the file (the icon says "cannot set the
# game's icon"), leave no staging or aside folder, and leave the earlier
# build exactly as it was. Then the same with the destination read-only.
#
#   disk_faults.sh CLI MKDISC WORK [WINE_RUN]
#
# With WINE_RUN (tools/wine-run), CLI is the Windows kelvorn-cli-testing.exe
# and runs under Wine, reaching the tmpfs through drive Z: (Wine maps it to
# the Unix root); fewer sizes are tried there, as every run starts Wine.
# Needs root (mount); exits 77 (skipped) with a message when mounting is not
# permitted. Prints one line per build.
set -eu
CLI=$1
MKDISC=$2
WORK=$3
WINE_RUN=${4:-}
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$WORK"
MNT="$WORK/mnt"
mkdir -p "$MNT"
if ! mount -t tmpfs -o size=64m kelvorn-faults "$MNT" 2>/dev/null; then
    echo "SKIPPED: cannot mount a tmpfs here (needs root and mount permission)"
    exit 77
fi
trap 'umount "$MNT" 2>/dev/null || umount -l "$MNT" 2>/dev/null || true' EXIT
sh "$HERE/../../tools/disc/make_small_disc.sh" "$MKDISC" "$WORK/disc"
# What the program is given: Unix paths, or drive Z: paths under Wine.
arg_path() { if [ -n "$WINE_RUN" ]; then printf 'Z:%s' "$1" | tr '/' '\\'; else printf '%s' "$1"; fi; }
export KELVORN_TEST_DIGESTS="$(arg_path "$WORK/disc/digests.txt")"
BIN="$(arg_path "$WORK/disc/sd.bin")"
DEST="$MNT/dest"
DEST_ARG="$(arg_path "$DEST")"
FOLDER="$DEST/Boss Rally"
STEPS=24
[ -n "$WINE_RUN" ] && STEPS=8

fail() { echo "FAIL: $*" >&2; exit 1; }
PREFIX=$WINE_RUN
manifest() {
    (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r p; do
        if [ -d "$p" ]; then echo "D $p"; else echo "F $p $(md5sum < "$p" | cut -c1-32)"; fi
    done)
}

# shellcheck disable=SC2086
$PREFIX "$CLI" --bin "$BIN" --dest "$DEST_ARG" > "$WORK/out.txt" 2>&1 || { cat "$WORK/out.txt"; fail "the earlier build failed"; }
echo "the earlier build" > "$FOLDER/earlier.txt"
manifest "$FOLDER" > "$WORK/earlier.txt"
used_kb=$(df -k --output=used "$MNT" | tail -1 | tr -d ' ')
new_kb=$(du -sk "$FOLDER" | cut -f1)

: > "$WORK/results.txt"
check_failed_build() { # check_failed_build LABEL
    status=0
    # The build's own handling of a full disk is under test here, not the
    # free-space check that would stop it before it starts.
    # shellcheck disable=SC2086
    $PREFIX "$CLI" --bin "$BIN" --dest "$DEST_ARG" --replace --no-space-check > "$WORK/out.txt" 2> "$WORK/err.txt" ||
        status=$?
    message=$(tr -d '\r' < "$WORK/err.txt" | sed -n 's/^kelvorn-cli: //p' | head -1)
    if [ $status -eq 0 ]; then
        echo "$1|built (room enough)" >> "$WORK/results.txt"
        return 1
    fi
    case $message in
        "cannot write "*|"cannot set the game's icon"|"cannot make folders in "*) ;;
        *) cat "$WORK/err.txt" >&2; fail "$1: unexpected message: $message" ;;
    esac
    [ ! -e "$DEST/.Boss Rally.building" ] || fail "$1: the staging folder stays"
    [ ! -e "$DEST/.Boss Rally.replaced" ] || fail "$1: an aside folder stays"
    manifest "$FOLDER" > "$WORK/now.txt"
    cmp -s "$WORK/now.txt" "$WORK/earlier.txt" || fail "$1: the earlier build changed"
    printf "%s|%s\n" "$1" "$message" | sed -e 's|[^ ]*/mnt/dest/||' -e 's|Z:[^ ]*\\mnt\\dest\\||' >> "$WORK/results.txt"
}

# Allowances from nothing to a whole build in 24 steps, then page by page
# 16 KiB at a time over the last step (the icon) until a build fits.
step=$((new_kb / STEPS + 1))
extra=0
while [ $extra -le $((new_kb - step)) ]; do
    mount -o remount,size=$((used_kb + extra))k "$MNT"
    check_failed_build "full disk, $extra KiB free" || break
    extra=$((extra + step))
done
fits=0
for i in $(seq 1 400); do
    mount -o remount,size=$((used_kb + extra))k "$MNT"
    if ! check_failed_build "full disk, $extra KiB free"; then fits=1; break; fi
    extra=$((extra + 16))
done
[ $fits = 1 ] || fail "no build fitted even with $extra KiB free"
# Back to the earlier build for what follows.
mount -o remount,size=64m "$MNT"
rm -rf "$FOLDER"
# shellcheck disable=SC2086
$PREFIX "$CLI" --bin "$BIN" --dest "$DEST_ARG" > "$WORK/out.txt" 2>&1 || fail "the earlier build failed"
echo "the earlier build" > "$FOLDER/earlier.txt"

# The marker's own file: its open and its write fail as on a full disk
# (strace tampering; the marker is too small to be reached by size alone).
if [ -z "$WINE_RUN" ] && command -v strace >/dev/null 2>&1; then
    export ASAN_OPTIONS=detect_leaks=0
    strace -f -qq -y -e trace=openat,write -o "$WORK/trace.txt" \
        "$CLI" --bin "$BIN" --dest "$DEST" --replace > "$WORK/out.txt" 2>&1 || fail "the traced build failed"
    echo "the earlier build" > "$FOLDER/earlier.txt"
    for sc in openat write; do
        # strace counts the calls of each thread on its own: count those of
        # the thread that writes the marker (the encoder's helper threads
        # may make calls of their own, the sanitizer's among them).
        nth=$(awk -v sc="$sc" '{ name = $2; sub(/\(.*/, "", name) }
                 NR == FNR { if (name == sc && index($0, ".kelvorn") && pid == "") pid = $1; next }
                 $1 == pid && name == sc { n++ }
                 $1 == pid && name == sc && index($0, ".kelvorn") { print n; exit }' \
                 "$WORK/trace.txt" "$WORK/trace.txt")
        [ -n "$nth" ] || fail "no $sc of the marker in the trace"
        PREFIX="strace -f -qq -o /dev/null -e trace=$sc -e inject=$sc:error=ENOSPC:when=$nth"
        check_failed_build "marker $sc fails (ENOSPC)" || fail "the build ignored a failing marker $sc"
        PREFIX=$WINE_RUN
    done
fi

mount -o remount,ro "$MNT"
check_failed_build "read-only destination" || fail "a build into a read-only destination succeeded"
mount -o remount,rw "$MNT"

cat "$WORK/results.txt"
n=$(grep -vc 'built (room' "$WORK/results.txt" || true)
echo "disk faults: $n failing builds, each with its message, no leftovers, the earlier build intact"
