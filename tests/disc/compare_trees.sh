#!/bin/sh
# Compares the trees that test_disc extracted (out/<name>) with xorriso's
# extraction of the same ISO (ref/<name>), byte for byte, names included.
#   compare_trees.sh <fixture dir>
set -u
FIX=$1
status=0
for name in joliet primary big; do
    if [ ! -d "$FIX/out/$name" ]; then
        echo "missing extraction $FIX/out/$name"
        status=1
        continue
    fi
    if ! diff -r "$FIX/ref/$name" "$FIX/out/$name"; then
        echo "extraction of $name differs from xorriso's"
        status=1
    fi
done
exit $status
