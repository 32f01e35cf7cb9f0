#!/bin/sh
# Builds one fuzz target with clang (libFuzzer, AddressSanitizer, UBSan),
# replays its committed regression inputs, then fuzzes it for SECONDS.
#
#   run_fuzz.sh SOURCE_DIR WORK_DIR TARGET SECONDS [GAME_EXE]
#
# TARGET: cue | iso | ico | pe | flac. WORK_DIR/TARGET keeps the binary, the
# growing corpus (so later runs start where earlier ones stopped) and any
# crashing input (crash-*). GAME_EXE: a Windows executable for the ico
# target (the stand-in game). The flac target's first seeds include a slice
# of real music when KELVORN_MUSIC_DIR names the music folder. Prints one
# summary line:
#   fuzz TARGET: N executions in S s, corpus C inputs, 0 crashes
# and exits 1 when an input crashes or breaks a check.
set -eu
SRC=$1
WORK=$2
TARGET=$3
SECONDS_=$4
GAME_EXE=${5:-}
HERE=$SRC/tests/hardening/fuzz
OUT=$WORK/$TARGET
mkdir -p "$OUT/corpus" "$OUT/seeds" "$OUT/tmp"

case $TARGET in
    cue)  MAXLEN=4096 ;;
    iso)  MAXLEN=65536 ;;
    pe)   MAXLEN=262144 ;;
    ico)  MAXLEN=16384 ;;
    flac) MAXLEN=40000 ;;
    *) echo "run_fuzz.sh: unknown target $TARGET" >&2; exit 2 ;;
esac

# The target and the layer libraries it links come from the project's own
# CMake files, configured for clang with only the base and format layers
# (KELVORN_FUZZ); a tree per target, so that targets can build side by side.
# The build tool rebuilds what changed.
BUILD=$OUT/build
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD" -DKELVORN_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        > "$OUT/configure.log" 2>&1 || { cat "$OUT/configure.log" >&2; exit 1; }
fi
cmake --build "$BUILD" --target fuzz_$TARGET > "$OUT/build.log" 2>&1 || { tail -40 "$OUT/build.log" >&2; exit 1; }
BIN=$BUILD/tests/hardening/fuzz/fuzz_$TARGET

# Seeds: the committed ones, plus some made here from the project's tools.
cp -f "$HERE/seeds/$TARGET"/* "$OUT/seeds/" 2>/dev/null || true
cp -f "$HERE/regressions/$TARGET"/* "$OUT/seeds/" 2>/dev/null || true
case $TARGET in
    iso)
        if { [ ! -f "$OUT/seeds/joliet" ] || [ ! -f "$OUT/seeds/primary" ]; } && command -v xorriso >/dev/null; then
            t=$OUT/tmp/tree
            rm -rf "$t" && mkdir -p "$t/DirectX/SUB" "$t/DATA/A/B" "$t/Musique é"
            printf 'brglide' > "$t/BRGlide.dll"; printf 'x' > "$t/DirectX/SUB/F.TXT"
            printf 'abc' > "$t/DATA/A/B/C.DAT"; : > "$t/DATA/EMPTY"; printf 'é' > "$t/Musique é/lisez.txt"
            # These seeds only help: an image xorriso fails to make is left
            # out (with its message), and made again by the next run.
            for kind in joliet primary; do
                opts=-J
                [ $kind = primary ] && opts=
                # shellcheck disable=SC2086
                if xorriso -as mkisofs -quiet $opts -V SEED -o "$OUT/tmp/$kind.iso" "$t" >"$OUT/tmp/$kind.log" 2>&1
                then
                    # Sector 16 onward: the descriptors, path tables and records.
                    tail -c +32769 "$OUT/tmp/$kind.iso" > "$OUT/seeds/$kind.part"
                    mv "$OUT/seeds/$kind.part" "$OUT/seeds/$kind"
                else
                    echo "fuzz iso: no $kind seed this time: $(tail -n 3 "$OUT/tmp/$kind.log" | tr '\n' ' ')"
                fi
            done
        fi ;;
    ico)
        if [ ! -f "$OUT/seeds/multi.ico" ] && command -v convert >/dev/null; then
            convert -size 32x32 xc:navy -define icon:auto-resize=32,16 "$OUT/seeds/multi.ico"
            convert -size 64x64 xc:gold -define icon:auto-resize=64 -define icon:format=png "$OUT/seeds/png.ico" 2>/dev/null || true
        fi ;;
    pe)
        [ -n "$GAME_EXE" ] && [ -f "$GAME_EXE" ] && cp -f "$GAME_EXE" "$OUT/seeds/game.exe"
        # The icon tests' executable: named resources, many types, a manifest.
        rich=${GAME_EXE%/games/*}/tests/icon/richpe.exe
        [ -f "$rich" ] && cp -f "$rich" "$OUT/seeds/richpe.exe"
        true ;;
    flac)
        if [ ! -f "$OUT/seeds/music" ] && command -v ffmpeg >/dev/null; then
            m=$(ls "${KELVORN_MUSIC_DIR:-/nonexistent}"/*.ogg 2>/dev/null | head -1)
            if [ -n "$m" ]; then
                { printf '\000'; ffmpeg -v error -ss 20 -t 0.2 -i "$m" -f s16le -ar 44100 -ac 2 -; } \
                    > "$OUT/seeds/music" 2>/dev/null || rm -f "$OUT/seeds/music"
            fi
        fi ;;
esac

export TMPDIR=$OUT/tmp
[ "$TARGET" = ico ] && export KELVORN_FUZZ_EXE=$GAME_EXE

# The regression inputs first: each must pass as it is.
if ls "$HERE/regressions/$TARGET"/* >/dev/null 2>&1; then
    "$BIN" "$HERE/regressions/$TARGET"/* > "$OUT/replay.log" 2>&1 || {
        cat "$OUT/replay.log" >&2
        echo "fuzz $TARGET: a regression input fails" >&2
        exit 1
    }
fi

status=0
"$BIN" -max_total_time="$SECONDS_" -max_len=$MAXLEN -rss_limit_mb=2048 -timeout=25 \
    -print_final_stats=1 -artifact_prefix="$OUT/" "$OUT/corpus" "$OUT/seeds" > "$OUT/fuzz.log" 2>&1 || status=$?
rm -rf "$OUT/tmp"/kelvorn-fuzz-*
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$OUT/fuzz.log" | tail -1)
took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$OUT/fuzz.log" | tail -1)
corpus=$(ls "$OUT/corpus" | wc -l)
if [ $status -ne 0 ]; then
    tail -60 "$OUT/fuzz.log" >&2
    echo "fuzz $TARGET: ${runs:-?} executions, corpus $corpus inputs, CRASH (input in $OUT/crash-* or leak-*/timeout-*)"
    exit 1
fi
echo "fuzz $TARGET: ${runs:-?} executions in ${took:-$SECONDS_} s, corpus $corpus inputs, 0 crashes"
