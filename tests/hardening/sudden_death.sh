#!/bin/sh
# Sudden death: kelvorn-cli is killed with SIGKILL at chosen system calls of
# a build that replaces an earlier build, spread over staging, the copy of
# the disc's files, the soundtrack encoding, the icon, the marker, the final
# swap and the removal of the earlier build. After every kill the build
# folder must hold the complete earlier build or the complete new one, and
# the next build must succeed and leave no staging or aside folder. A second
# series forces the fallback (rename aside, then into place) by refusing the
# atomic exchange, and kills around its renames: there the build folder may
# be missing for a moment, and the next build must bring back a complete one.
#
#   sudden_death.sh CLI MKDISC WORK [POINTS]
#
# CLI: kelvorn-cli-testing (native). POINTS (default 60): kill points of the
# first series. Needs strace (system-call tampering); exits 77 (skipped)
# without it. Prints a table of kill points by phase and what was found.
set -eu
CLI=$1
MKDISC=$2
WORK=$3
POINTS=${4:-60}
HERE=$(cd "$(dirname "$0")" && pwd)
if ! command -v strace >/dev/null 2>&1; then
    echo "SKIPPED: strace is not installed (package strace)"
    exit 77
fi
mkdir -p "$WORK"
sh "$HERE/../../tools/disc/make_small_disc.sh" "$MKDISC" "$WORK/disc"
export KELVORN_TEST_DIGESTS="$WORK/disc/digests.txt"
# LeakSanitizer cannot run under ptrace.
export ASAN_OPTIONS=detect_leaks=0
BIN="$WORK/disc/sd.bin"
DEST="$WORK/dest"
FOLDER="$DEST/Boss Rally"
STAGING="$DEST/.Boss Rally.building"
ASIDE="$DEST/.Boss Rally.replaced"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Every entry below a folder with its kind and, for files, its MD5.
manifest() {
    (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r p; do
        if [ -L "$p" ]; then echo "L $p"
        elif [ -d "$p" ]; then echo "D $p"
        else echo "F $p $(md5sum < "$p" | cut -c1-32)"; fi
    done)
}

build() { "$CLI" --bin "$BIN" --dest "$DEST" --replace > "$WORK/out.txt" 2>&1; }

# The new build's content, made once; the earlier build is the same plus a
# file only it has, so the two can be told apart.
rm -rf "$DEST"
build || { cat "$WORK/out.txt"; fail "the reference build failed"; }
manifest "$FOLDER" > "$WORK/new.txt"
make_earlier() { echo "the earlier build" > "$FOLDER/earlier.txt"; }
make_earlier
manifest "$FOLDER" > "$WORK/earlier.txt"

# The system calls of one replacing build, in order, each with its phase
# (a call that names no file keeps the phase before it).
SET=openat,write,close,mkdir,rename,renameat2,unlink,unlinkat,rmdir
trace() { # trace OUT EXTRA_INJECT
    # shellcheck disable=SC2086
    strace -f -qq -y -e trace=$SET $2 -o "$WORK/trace.txt" "$CLI" --bin "$BIN" --dest "$DEST" --replace \
        > "$WORK/out.txt" 2>&1 || fail "the traced build failed"
    make_earlier
    awk '
        BEGIN { phase = "checks" }
        { name = $2; sub(/\(.*/, "", name); n[name]++
          if (swapped) phase = "earlier removal"
          else if (index($0, ".building/disc/")) phase = "copy"
          else if (index($0, ".building/music/")) phase = "encode"
          else if (index($0, "Boss Rally.exe.part")) phase = "icon"
          else if (index($0, ".kelvorn")) phase = "marker"
          else if (name == "renameat2" || (name == "rename" && (index($0, "Boss Rally\", ") || index($0, "Boss Rally\")")))) phase = "final rename"
          else if (index($0, ".building") || index($0, "Boss Rally.exe")) phase = "staging"
          if (name == "renameat2" && $0 ~ / = 0$/) swapped = 1
          if (name == "rename" && index($0, ".building\", \"") && index($0, "Boss Rally\") = 0")) swapped = 1
          print name, n[name], phase }' "$WORK/trace.txt" > "$1"
}
trace "$WORK/events.txt" ""
trace "$WORK/fallback-events.txt" "-e inject=renameat2:error=EINVAL"

# Kill points: each phase gets a share, spread evenly over its calls.
pick() { # pick EVENTS PHASE COUNT
    awk -v p="$2" -v k="$3" '
        { ph = $0; sub(/^[^ ]+ [^ ]+ /, "", ph); if (ph == p) ev[m++] = $1 " " $2 }
        END { if (m == 0) exit; if (k > m) k = m
              for (i = 0; i < k; i++) print ev[int(i * m / k)], p }' "$1"
}
share=$((POINTS / 10))
E=$WORK/events.txt
{
    pick "$E" checks "$share"; pick "$E" staging "$share"; pick "$E" copy $((share * 2))
    pick "$E" encode $((share * 2)); pick "$E" icon "$share"; pick "$E" marker "$share"
    pick "$E" "final rename" "$share"; pick "$E" "earlier removal" "$share"
} > "$WORK/points.txt"
# The fallback: every call of its final renames, and some of the removal.
F=$WORK/fallback-events.txt
{ pick "$F" "final rename" 10 | grep -v '^renameat2'; pick "$F" "earlier removal" "$share"; } | sed 's/$/ (fallback)/' \
    > "$WORK/fallback-points.txt"

: > "$WORK/results.txt"
kill_at() { # kill_at SYSCALL N PHASE EXTRA_INJECT
    sc=$1; nth=$2; phase=$3; extra=$4
    [ "$(manifest "$FOLDER")" = "$(cat "$WORK/earlier.txt")" ] || fail "setup: no earlier build"
    status=0
    # shellcheck disable=SC2086
    strace -f -qq -o /dev/null -e trace=$SET -e inject=$sc:signal=KILL:when=$nth $extra \
        "$CLI" --bin "$BIN" --dest "$DEST" --replace > "$WORK/out.txt" 2>&1 || status=$?
    found=missing
    if [ -d "$FOLDER" ]; then
        manifest "$FOLDER" > "$WORK/now.txt"
        if cmp -s "$WORK/now.txt" "$WORK/earlier.txt"; then found=earlier
        elif cmp -s "$WORK/now.txt" "$WORK/new.txt"; then found=new
        else
            diff "$WORK/earlier.txt" "$WORK/now.txt" | head -20 >&2
            fail "killed at $sc #$nth ($phase): the build folder is partial"
        fi
    fi
    if [ $found = missing ]; then
        # Only the fallback may leave this, with the earlier build aside.
        [ -n "$extra" ] || fail "killed at $sc #$nth ($phase): the build folder is missing"
        [ "$(manifest "$ASIDE")" = "$(cat "$WORK/earlier.txt")" ] ||
            fail "killed at $sc #$nth ($phase): build folder missing and no complete earlier build aside"
    fi
    left=""
    [ -e "$STAGING" ] && left="$left staging"
    [ -e "$ASIDE" ] && left="$left aside"
    killed=yes
    [ $status -eq 137 ] || killed="no (exit $status)"
    # The next build: runs cleanly, installs the new build, leaves nothing.
    build || { cat "$WORK/out.txt" >&2; fail "after a kill at $sc #$nth ($phase) the next build fails"; }
    manifest "$FOLDER" > "$WORK/now.txt"
    cmp -s "$WORK/now.txt" "$WORK/new.txt" || fail "after a kill at $sc #$nth ($phase) the next build is not whole"
    [ ! -e "$STAGING" ] && [ ! -e "$ASIDE" ] || fail "after a kill at $sc #$nth ($phase) a leftover stays"
    echo "$phase|$sc #$nth|$killed|$found|${left:- none}" >> "$WORK/results.txt"
    make_earlier
}

while read -r sc nth phase; do
    kill_at "$sc" "$nth" "$phase" ""
done < "$WORK/points.txt"

while read -r sc nth phase; do
    kill_at "$sc" "$nth" "$phase" "-e inject=renameat2:error=EINVAL"
done < "$WORK/fallback-points.txt"

echo "phase|kill point|killed|build folder after the kill|leftovers after the kill"
cat "$WORK/results.txt"
total=$(wc -l < "$WORK/results.txt")
killed=$(grep -c '|yes|' "$WORK/results.txt" || true)
echo "sudden death: $total kill points ($killed killed mid-build), every build folder whole, every next build clean"
