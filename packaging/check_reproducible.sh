#!/usr/bin/env bash
# Release check: two builds of the same commit, in two fresh clones at
# different paths, one after the other, the second in another time zone and
# under another umask, must give the same programs and the same package,
# byte for byte. Then, in each unpacked package, SHA256SUMS must check, the
# programs must be the ones built, and no program may hold the folder of
# either build or the name KELVORN_TEST_DIGESTS.
#
# Usage: check_reproducible.sh PRESET SOURCE_DIR WORK_DIR
#   PRESET  windows: kelvorn.exe, kelvorn-cli.exe and the zip;
#           native-release: kelvorn-cli and the tar.gz.
# Builds the commit checked out in SOURCE_DIR (uncommitted changes are not
# part of it). WORK_DIR is emptied first and removed when all is well.
set -u
preset=$1
src=$2
work=$3
jobs=${KELVORN_JOBS:-2}
status=0
fail() { echo "FAIL: $*"; status=1; }

case "$preset" in
    windows) programs="kelvorn.exe kelvorn-cli.exe"; archive_glob="Kelvorn-*-win64.zip" ;;
    native-release) programs="kelvorn-cli"; archive_glob="kelvorn-*-linux-x86_64.tar.gz" ;;
    *) echo "unknown preset $preset"; exit 2 ;;
esac

commit=$(git -C "$src" rev-parse HEAD) || { echo "$src is not a git checkout"; exit 2; }
if [ -n "$(git -C "$src" status --porcelain --untracked-files=no)" ]; then
    echo "note: $src has uncommitted changes; checking commit $commit without them"
fi

rm -rf "$work"
mkdir -p "$work"
# Different lengths on purpose: a path that leaks shifts everything after it.
clones=("$work/a/kelvorn" "$work/second-build-folder/elsewhere/kelvorn")

# build N: clone, configure with the preset, build the programs, run CPack.
# CPack's install step would build every target first (tests included);
# the programs are all the package needs.
build() {
    local dir=${clones[$1]}
    local log="$work/build$1.log"
    git clone -q "$src" "$dir" && git -C "$dir" checkout -q --detach "$commit" || return 1
    (
        cd "$dir" &&
        cmake --preset "$preset" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON &&
        cmake --build "build/$preset" -j"$jobs" --target ${programs//.exe/} &&
        cd "build/$preset" && cpack
    ) >"$log" 2>&1 || { tail -n 30 "$log"; return 1; }
}

unset SOURCE_DATE_EPOCH
echo "building $commit in ${clones[0]}"
build 0 || { fail "first build"; exit 1; }
sleep 2
echo "building $commit in ${clones[1]} (TZ=Pacific/Kiritimati, umask 027)"
(umask 027; TZ=Pacific/Kiritimati build 1) || { fail "second build"; exit 1; }

out0=${clones[0]}/build/$preset
out1=${clones[1]}/build/$preset
archive=$(cd "$out0" && ls $archive_glob 2>/dev/null | head -n 1)
[ -n "$archive" ] || { fail "no package matching $archive_glob in $out0"; exit 1; }
for f in $programs "$archive"; do
    if cmp -s "$out0/$f" "$out1/$f"; then
        echo "same bytes: $f $(sha256sum <"$out0/$f" | cut -c1-64)"
    else
        fail "$f differs between the two builds: $(cmp "$out0/$f" "$out1/$f" 2>&1)"
    fi
done

leaks() {
    { strings -a "$1"; strings -a -e l "$1"; } | grep -F -e "${clones[0]}" -e "${clones[1]}" -e "$work" \
        -e KELVORN_TEST_DIGESTS | sort -u | head -n 5
}

top=${archive%.zip}
top=${top%.tar.gz}
for n in 0 1; do
    out=${clones[$n]}/build/$preset
    unpacked="$work/unpacked$n"
    mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "$out/$archive") || { fail "cannot unpack $archive"; continue; }
    listing=$(cd "$unpacked/$top" && LC_ALL=C ls -A | tr '\n' ' ')
    expected=$(printf '%s\n' $programs LICENSE README.txt SHA256SUMS | LC_ALL=C sort | tr '\n' ' ')
    [ "$listing" = "$expected" ] || fail "package $n holds '$listing', expected '$expected'"
    (cd "$unpacked/$top" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not check in package $n"
    for p in $programs; do
        cmp -s "$unpacked/$top/$p" "$out/$p" || fail "package $n: $p is not the program built"
        found=$(leaks "$unpacked/$top/$p")
        [ -z "$found" ] || fail "package $n: $p holds: $found"
    done
done

if [ $status -eq 0 ]; then
    rm -rf "$work"
    echo "release builds reproducible: $archive"
else
    echo "kept for inspection: $work"
fi
exit $status
