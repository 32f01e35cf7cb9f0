#!/bin/sh
# The whole Boss Rally build of the full-size fixture disc, against what a
# user could script instead, on the same BIN/CUE, interleaved in one run;
# prints each run's time as it goes, then the median of RUNS runs of each
# and the ratios:
#   script:      md5sum br.bin; bchunk -w br.bin br.cue t; flac -l 0 -b 4096
#                -m -r 8 on the twelve tNN.wav, one after another; xorriso
#                -osirrox on -indev t01.iso -extract / disc
#   script -P:   the same with the flacs on every core (xargs -P $(nproc))
#   native:      kelvorn-cli-testing (the checks included), KELVORN_TEST_DIGESTS
#                naming the fixture's digests, as the tests run it
#   Wine:        kelvorn-cli-testing.exe under tools/wine-run, the same way
#                (skipped when the Windows tree has not built it); one
#                Wine session is kept up for all its runs
#
#   run_bench_build.sh FIXTURE_DIR WORK_DIR NATIVE_CLI [WINDOWS_CLI WINE_RUN [RUNS]]
#
# What is there already is used as it is: a fixture disc in FIXTURE_DIR
# (its stamp present; otherwise it is made once with $KELVORN_MKDISC, the
# tests' maker), the Windows tree's Wine prefix ($KELVORN_WINEPREFIX, else
# the wineprefix folder beside WINDOWS_CLI; made once when missing) and the
# programs as given. Each run's wall and CPU seconds are said as it ends
# (CPU: the programs and their children; under Wine, not the wineserver's
# share).
set -eu
mkdir -p "$1" "$2"
FIX=$(cd "$1" && pwd)
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
HERE=$(cd "$(dirname "$0")" && pwd)
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
now() { date +%s.%N; }
START=$(now)
# say TEXT: one progress line, with the seconds since the start.
say() { printf '[%6.1f s] %s\n' "$(echo "$START $(now)" | awk '{print $2 - $1}')" "$*"; }
have_wine=0
if [ -n "$WINDOWS" ] && [ -f "$WINDOWS" ] && [ -n "$WINE_RUN" ]; then have_wine=1; fi

if [ -f "$FIX/stamp" ] && [ -f "$BIN" ] && [ -f "$CUE" ] && [ -f "$FIX/digests.txt" ]; then
    say "fixture disc: $FIX (made before, used as it is)"
elif [ -n "${KELVORN_MKDISC:-}" ]; then
    say "fixture disc: making it in $FIX (once; a few minutes)"
    sh "$HERE/../../tools/disc/make_boss_rally_disc.sh" "$KELVORN_MKDISC" "$FIX"
    say "fixture disc: made"
else
    echo "no fixture disc in $FIX, and KELVORN_MKDISC does not name the maker" >&2
    exit 1
fi

script() { # script seq|par
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
    if [ "$1" = native ]; then
        KELVORN_TEST_DIGESTS=$FIX/digests.txt "$NATIVE" --bin "$BIN" --dest "$WORK/$1" >"$WORK/$1.out"
    else
        KELVORN_TEST_DIGESTS=$(winpath "$FIX/digests.txt") "$WINE_RUN" "$WINDOWS" --bin "$(winpath "$BIN")" \
            --dest "$(winpath "$WORK/$1")" >"$WORK/$1.out"
    fi
}

# CPU seconds (user + system) of this shell's waited-for children so far.
# `times` must run in this shell itself (a subshell, as in $(...), would
# count none of them): children_cpu writes them to a file that cpu_read
# reads.
children_cpu() { times >"$WORK/times.out"; }
cpu_read() {
    awk 'NR == 2 {
        t = 0
        for (i = 1; i <= 2; ++i) { split($i, p, "m"); sub("s", "", p[2]); t += p[1] * 60 + p[2] }
        printf "%.3f", t
    }' "$WORK/times.out"
}

# timed NAME LABEL COMMAND...: runs the command, appends its wall and CPU
# seconds to WORK/NAME.times and says them.
timed() {
    name=$1
    label=$2
    shift 2
    if [ "$1" = script ]; then settle script; else settle "$2"; fi
    children_cpu
    c0=$(cpu_read)
    t0=$(now)
    "$@"
    t1=$(now)
    children_cpu
    c1=$(cpu_read)
    times=$(echo "$t0 $t1 $c0 $c1" | awk '{printf "%.3f %.3f", $2 - $1, $4 - $3}')
    echo "$times" >>"$WORK/$name.times"
    say "$label: $(echo "$times" | awk '{printf "%s s, cpu %s s", $1, $2}')"
}

# settle FOLDER: before a timed run, and outside its time, the previous
# run's output is removed and everything written so far reaches the disk,
# so that no run pays for another's writeback (Kelvorn flushes its files
# before the swap; the script never does).
settle() {
    rm -rf "${WORK:?}/$1"
    mkdir -p "$WORK/$1"
    sync
}

median() { sort -n "$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
median_cpu() { sort -n -k2 "$1" | awk '{v[NR] = $2} END {print v[int((NR + 1) / 2)]}'; }

if [ $have_wine -eq 1 ]; then
    # Wine's own start-up is paid once, not per run.
    export KELVORN_WINEPREFIX="${KELVORN_WINEPREFIX:-$(dirname "$WINDOWS")/wineprefix}"
    if [ -f "$KELVORN_WINEPREFIX/system.reg" ]; then
        say "Wine prefix: $KELVORN_WINEPREFIX (made before, used as it is)"
    else
        say "Wine prefix: making it in $KELVORN_WINEPREFIX (once; a few minutes)"
    fi
    mkdir -p "$KELVORN_WINEPREFIX"
    # One Wine session (server and services kept up) for every run.
    "$WINE_RUN" --session-start
    trap '"$WINE_RUN" --session-end' EXIT
    say "Wine: up"
else
    say "Wine: skipped (no $WINDOWS; build the windows preset first)"
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
rm -f "$WORK"/*.times
say "load average $load_before; one untimed round of Kelvorn's builds warms the page cache"
settle native
kelvorn native
if [ $have_wine -eq 1 ]; then
    settle wine
    kelvorn wine
fi
r=1
while [ $r -le "$RUNS" ]; do
    timed seq "run $r/$RUNS: script, flac one track after another" script seq
    timed par "run $r/$RUNS: script, flac on every core" script par
    timed native "run $r/$RUNS: kelvorn-cli-testing, native" kelvorn native
    if [ $have_wine -eq 1 ]; then timed wine "run $r/$RUNS: kelvorn-cli-testing.exe under Wine" kelvorn wine; fi
    r=$((r + 1))
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The builds must have made the same soundtrack as each other.
if [ $have_wine -eq 1 ] && ! diff -r "$WORK/native/Boss Rally/music" "$WORK/wine/Boss Rally/music" >/dev/null; then
    echo "WARNING: the native and Windows builds made different FLAC files"
fi

ratio() { echo "$1 $2" | awk '{printf "%.2f", $1 / $2}'; }
row() { # row NAME LABEL: the medians of NAME, and for Kelvorn's rows the ratios
    wall=$(median "$WORK/$1.times")
    cpu=$(median_cpu "$WORK/$1.times")
    case $1 in
        seq | par) printf '  %-46s %8s s %8s s\n' "$2" "$wall" "$cpu" ;;
        *) printf '  %-46s %8s s %8s s   %s x script -P (cpu %s x), %s x script\n' "$2" "$wall" "$cpu" \
            "$(ratio "$wall" "$par")" "$(ratio "$cpu" "$par_cpu")" "$(ratio "$wall" "$seq")" ;;
    esac
}
seq=$(median "$WORK/seq.times")
par=$(median "$WORK/par.times")
par_cpu=$(median_cpu "$WORK/par.times")
echo
echo "Boss Rally build of the full-size fixture disc ($(($(stat -c %s "$BIN") / 1000000)) MB BIN, 12 audio tracks)," \
    "median of $RUNS runs, $CORES cores, in $(echo "$START $(now)" | awk '{printf "%.0f", $2 - $1}') s"
echo "load average before: $load_before; after: $load_after"
printf '  %-46s %10s %10s\n' "" "wall" "cpu"
row seq "script, flac one track after another"
row par "script, flac on every core (xargs -P $CORES)"
row native "kelvorn-cli-testing, native"
if [ $have_wine -eq 1 ]; then
    row wine "kelvorn-cli-testing.exe under Wine"
else
    echo "  kelvorn-cli-testing.exe under Wine: not built (build the windows preset first)"
fi
echo "(CPU: the programs and their children; under Wine without the wineserver's share)"
rm -rf "$WORK/script" "$WORK/native" "$WORK/wine"
