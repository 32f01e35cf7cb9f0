#!/bin/sh
# md5_file against md5sum on files around the 1 MiB chunk and on a 40 MiB
# file. Usage: md5_file_vs_md5sum.sh WORKDIR PROBE [EMULATOR]
# With an emulator (Wine) the probe gets Z:\ paths.
set -eu
work=$1
probe=$2
emulator=${3:-}
rm -rf "$work"
mkdir -p "$work"
for size in 0 1 1048575 1048576 1048577 41943041; do
    head -c "$size" /dev/urandom >"$work/f$size"
done
status=0
for size in 0 1 1048575 1048576 1048577 41943041; do
    f=$work/f$size
    expect=$(md5sum <"$f" | cut -d' ' -f1)
    if [ -n "$emulator" ]; then
        arg=$(printf 'Z:%s' "$f" | tr / '\\')
        got=$("$emulator" "$probe" "$arg" | tr -d '\r' | cut -d' ' -f1)
    else
        got=$("$probe" "$f" | cut -d' ' -f1)
    fi
    if [ "$got" != "$expect" ]; then
        echo "size $size: md5_file gave '$got', md5sum '$expect'"
        status=1
    fi
done
# The files stay for a look when anything differed.
[ $status -eq 0 ] && rm -rf "$work" && echo "md5_file matches md5sum on all sizes"
exit $status
