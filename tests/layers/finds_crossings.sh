#!/bin/sh
# The include check must find each kind of crossing in crossing/, a tree
# made for it, and nothing else there.
set -u
here=$(dirname "$0")
out=$(sh "$here/check_includes.sh" "$here/crossing")
status=$?
echo "$out"
[ $status -eq 1 ] || { echo "the check passed a tree with crossings"; exit 1; }
expected="base/upward.h:2: includes builder/build.h (a higher layer)
formats/flac/sideways.cpp:2: includes formats/disc/iso.h (another format)
ui/other_front_end.cpp:2: includes cli/cli.h (the other front end)"
[ "$out" = "$expected" ] || { echo "expected exactly:"; echo "$expected"; exit 1; }
