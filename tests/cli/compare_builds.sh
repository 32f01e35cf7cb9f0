#!/bin/sh
# The same builds from the native kelvorn-cli-testing and from the Windows
# one under Wine, on the same inputs: the build folders must match file for
# file. For Top Gear Rally every byte; for Boss Rally (with DISC_DIR, the
# fixture disc) only "Boss Rally.exe" may differ in its bytes, because the
# two resource writers lay the file out differently: its resources must
# list alike and its icon resources must read back equal. The native side
# encodes on the default threads, the Windows one on three.
#   compare_builds.sh WORKDIR NATIVE_PROGRAM WINDOWS_PROGRAM EMULATOR [DISC_DIR]
# Exit 77 (skipped) when the native program has not been built.
set -eu
work=$1
native=$2
windows=$3
emulator=$4
disc=${5:-}
if [ ! -x "$native" ]; then
    echo "skipped: build the native tree first ($native is missing)"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# build SIDE DIGESTS ARGS...: one build into $work/SIDE; the other paths in
# ARGS are Unix paths, turned into Z:\ paths for Wine.
build() {
    side=$1
    digests=$2
    shift 2
    mkdir -p "$work/$side"
    status=0
    if [ "$side" = native ]; then
        KELVORN_TEST_DIGESTS=$digests "$native" "$@" --dest "$work/$side" \
            >"$work/$side.out" 2>"$work/$side.err" || status=$?
    else
        args=""
        for a in "$@"; do
            case $a in /*) a=$(winpath "$a") ;; esac
            args="$args '$a'"
        done
        eval "KELVORN_TEST_DIGESTS='$(winpath "$digests")' '$emulator' '$windows' $args --dest '$(winpath "$work/$side")'" \
            >"$work/$side.out" 2>"$work/$side.err" || status=$?
    fi
    [ $status -eq 0 ] || { echo "$side build: exit $status"; cat "$work/$side.err"; exit 1; }
}

# Both sides print the same lines, up to the last one, which names each
# build's folder.
same_lines() {
    tr -d '\r' <"$work/windows.out" | sed '$d' >"$work/windows.lines"
    sed '$d' "$work/native.out" >"$work/native.lines"
    if ! cmp -s "$work/native.lines" "$work/windows.lines"; then
        echo "the two builds printed different lines:"
        diff "$work/native.lines" "$work/windows.lines" || true
        fail=1
    fi
}

fail=0

# Top Gear Rally: every byte alike, the game executable included.
{ printf '\200\067\022\100'; head -c 8388604 /dev/urandom; } >"$work/rom.z64"
printf 'cartridge_rom=%s\n' "$(md5sum <"$work/rom.z64" | cut -c1-32)" >"$work/digests.txt"
for side in native windows; do build $side "$work/digests.txt" --game tgr --rom "$work/rom.z64"; done
same_lines
if ! diff -r "$work/native/Top Gear Rally" "$work/windows/Top Gear Rally"; then
    echo "the Top Gear Rally builds differ"
    fail=1
fi
echo "Top Gear Rally: native and Windows builds match: $(ls -A "$work/native/Top Gear Rally" | tr '\n' ' ')"
[ $fail -eq 0 ] || { echo "outputs kept in $work"; exit 1; }
rm -rf "$work/native" "$work/windows" "$work/rom.z64"
[ -n "$disc" ] || exit 0

build native "$disc/digests.txt" --bin "$disc/br.bin"
build windows "$disc/digests.txt" --bin "$disc/br.bin" --threads 3
same_lines

a=$work/native/Boss\ Rally
b=$work/windows/Boss\ Rally
(cd "$a" && find . | sort) >"$work/native.files"
(cd "$b" && find . | sort) >"$work/windows.files"
if ! cmp -s "$work/native.files" "$work/windows.files"; then
    echo "the build folders hold different entries:"
    diff "$work/native.files" "$work/windows.files" || true
    fail=1
fi
grep -qx './Boss Rally.exe' "$work/native.files" || { echo "no Boss Rally.exe"; fail=1; }
grep -qx './music/cd/track13.flac' "$work/native.files" || { echo "no track13.flac"; fail=1; }
if ! diff -r -x 'Boss Rally.exe' "$a" "$b" >"$work/content.diff"; then
    echo "files differ:"
    cat "$work/content.diff"
    fail=1
fi

# The executable: resources listed alike (file offsets aside), and every
# icon and icon group byte for byte.
for side in native windows; do
    exe=$work/$side/Boss\ Rally/Boss\ Rally.exe
    wrestool -l "$exe" | sed 's/offset=0x[0-9a-f]* //; s/^.*\(--type=\)/\1/' | sort >"$work/$side.resources"
    for type in 3 14; do
        mkdir -p "$work/$side.res$type"
        wrestool -x -R -t "$type" -o "$work/$side.res$type" "$exe"
    done
done
if ! cmp -s "$work/native.resources" "$work/windows.resources"; then
    echo "the executables' resources list differently:"
    diff "$work/native.resources" "$work/windows.resources" || true
    fail=1
fi
for type in 3 14; do
    if [ -z "$(ls "$work/native.res$type")" ]; then
        echo "no resources of type $type"
        fail=1
    elif ! diff -r "$work/native.res$type" "$work/windows.res$type"; then
        echo "resources of type $type differ"
        fail=1
    fi
done

if [ $fail -ne 0 ]; then
    echo "outputs kept in $work"
    exit 1
fi
echo "Boss Rally: native and Windows builds match: $(wc -l <"$work/native.files") entries;" \
    "$(grep -c -- '--type=3 ' "$work/native.resources") icon images, $(grep -c -- '--type=14 ' "$work/native.resources") icon group(s)"
cat "$work/native.resources"
rm -rf "$work"
