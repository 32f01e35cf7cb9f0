#!/bin/sh
# The system's resource update and the own writer, given the same executable
# and ICO, must produce executables that `wrestool -l` lists alike (file
# offsets aside). The Windows test run leaves both in the folder given.
set -e
dir=$1
status=0
for case in one.ico six.ico richpe; do
    sys=$dir/system-$case.exe
    own=$dir/own-$case.exe
    for f in "$sys" "$own"; do
        [ -s "$f" ] || { echo "missing $f"; exit 1; }
    done
    wrestool -l "$sys" | sed 's/offset=0x[0-9a-f]* //' | sort > "$dir/$case.system.txt"
    wrestool -l "$own" | sed 's/offset=0x[0-9a-f]* //' | sort > "$dir/$case.own.txt"
    [ -s "$dir/$case.system.txt" ] || { echo "wrestool lists nothing for $sys"; exit 1; }
    if ! cmp -s "$dir/$case.system.txt" "$dir/$case.own.txt"; then
        echo "listings differ for $case:"
        diff "$dir/$case.system.txt" "$dir/$case.own.txt" || true
        status=1
    fi
done
exit $status
