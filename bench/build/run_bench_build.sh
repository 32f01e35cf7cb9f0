#!/bin/sh
# The whole Boss Rally build of the full-size fixture disc, against what a
# user could script instead, on the same BIN/CUE, interleaved in one run;
# prints the median of RUNS runs of each and the ratios:
#   script:      md5sum br.bin; bchunk -w br.bin br.cue t; flac -l 0 -b 4096
#                -m -r 8 on the twelve tNN.wav, one after another; xorriso
#                -osirrox on -indev t01.iso -extract / disc
#   script -P:   the same with the flacs on every core (xargs -P $(nproc))
#   native:      kelvorn-cli-testing (the checks included), KELVORN_TEST_DIGESTS
#                naming the fixture's digests, as the tests run it
#   Wine:        kelvorn-cli-testing.exe under tools/wine-run, the same way
#                (skipped when the Windows tree has not built it); one
#                wineserver is kept up for all its runs
#
#   run_bench_build.sh FIXTURE_DIR WORK_DIR NATIVE_CLI [WINDOWS_CLI WINE_RUN [RUNS]]
set -eu
FIX=$(cd "$1" && pwd)
mkdir -p "$2"
WORK=$(cd "$2" && pwd)
abs() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
NATIVE=$(abs "$3")
WINDOWS=${4:-}
WINE_RUN=${5:-}
if [ -n "$WINDOWS" ] && [ -f "$WINDOWS" ]; then WINDOWS=$(abs "$WINDOWS"); fi
if [ -n "$WINE_RUN" ]; then WINE_RUN=$(abs "$WINE_RUN"); fi
RUNS=${6:-3}
BIN=$FIX/br.bin
CUE=$FIX/br.cue
CORES=$(nproc)
FLAC="flac -s -l 0 -b 4096 -m -r 8"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
now() { date +%s.%N; }
have_wine=0
if [ -n "$WINDOWS" ] && [ -f "$WINDOWS" ] && [ -n "$WINE_RUN" ]; then have_wine=1; fi

script() { # script seq|par
    rm -rf "$WORK/script"
    mkdir -p "$WORK/script"
    (
        cd "$WORK/script"
        md5sum "$BIN" >/dev/null
        bchunk -w "$BIN" "$CUE" t >/dev/null
        if [ "$1" = seq ]; then
            for f in t*.wav; do $FLAC -o "${f%.wav}.flac" "$f"; rm "$f"; done
        else
            ls t*.wav | xargs -P "$CORES" -n 1 sh -c "$FLAC"' -o "${0%.wav}.flac" "$0" && rm "$0"'
        fi
        xorriso -osirrox on -indev t01.iso -extract / disc >/dev/null 2>&1
        rm t01.iso
    )
}

kelvorn() { # kelvorn native|wine
    rm -rf "$WORK/$1"
    mkdir -p "$WORK/$1"
    if [ "$1" = native ]; then
        KELVORN_TEST_DIGESTS=$FIX/digests.txt "$NATIVE" --bin "$BIN" --dest "$WORK/$1" >"$WORK/$1.out"
    else
        KELVORN_TEST_DIGESTS=$(winpath "$FIX/digests.txt") "$WINE_RUN" "$WINDOWS" --bin "$(winpath "$BIN")" \
            --dest "$(winpath "$WORK/$1")" >"$WORK/$1.out"
    fi
}

# time_into FILE COMMAND...: appends the command's wall seconds to FILE.
time_into() {
    file=$1
    shift
    t0=$(now)
    "$@"
    t1=$(now)
    echo "$t0 $t1" | awk '{printf "%.3f\n", $2 - $1}' >>"$file"
}

median() { sort -n "$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

if [ $have_wine -eq 1 ]; then
    # Wine's own start-up is paid once, not per run.
    export KELVORN_WINEPREFIX="${KELVORN_WINEPREFIX:-$(dirname "$WINDOWS")/wineprefix}"
    mkdir -p "$KELVORN_WINEPREFIX"
    WINEPREFIX=$KELVORN_WINEPREFIX wineserver -p 2>/dev/null || true
    "$WINE_RUN" cmd /c exit 0
    trap 'WINEPREFIX=$KELVORN_WINEPREFIX wineserver -k 2>/dev/null || true' EXIT
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
rm -f "$WORK"/*.times
# One untimed round warms the page cache and the programs.
kelvorn native
[ $have_wine -eq 1 ] && kelvorn wine
r=0
while [ $r -lt "$RUNS" ]; do
    time_into "$WORK/seq.times" script seq
    time_into "$WORK/par.times" script par
    time_into "$WORK/native.times" kelvorn native
    [ $have_wine -eq 1 ] && time_into "$WORK/wine.times" kelvorn wine
    r=$((r + 1))
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The builds must have made the same soundtrack as each other.
if [ $have_wine -eq 1 ] && ! diff -r "$WORK/native/Boss Rally/music" "$WORK/wine/Boss Rally/music" >/dev/null; then
    echo "WARNING: the native and Windows builds made different FLAC files"
fi

seq=$(median "$WORK/seq.times")
par=$(median "$WORK/par.times")
nat=$(median "$WORK/native.times")
ratio() { echo "$1 $2" | awk '{printf "%.2f", $1 / $2}'; }
echo "Boss Rally build of the full-size fixture disc ($(($(stat -c %s "$BIN") / 1000000)) MB BIN, 12 audio tracks)," \
    "median of $RUNS runs, $CORES cores"
echo "load average before: $load_before; after: $load_after"
printf '  %-52s %7s s\n' "script, flac one track after another" "$seq"
printf '  %-52s %7s s\n' "script, flac on every core (xargs -P $CORES)" "$par"
printf '  %-52s %7s s   %s x script -P, %s x script\n' "kelvorn-cli-testing, native" "$nat" "$(ratio "$nat" "$par")" \
    "$(ratio "$nat" "$seq")"
if [ $have_wine -eq 1 ]; then
    win=$(median "$WORK/wine.times")
    printf '  %-52s %7s s   %s x script -P, %s x script\n' "kelvorn-cli-testing.exe under Wine" "$win" \
        "$(ratio "$win" "$par")" "$(ratio "$win" "$seq")"
else
    echo "  kelvorn-cli-testing.exe under Wine: not built (build the windows preset first)"
fi
rm -rf "$WORK/script" "$WORK/native" "$WORK/wine"
