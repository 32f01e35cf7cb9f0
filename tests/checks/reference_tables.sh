#!/bin/sh
# The fixture-digest variable exists only in the test build.
# Usage: reference_tables.sh WORKDIR RETAIL_PROBE TESTING_PROBE EMULATOR
#                            [KELVORN_EXE KELVORN_TESTING_EXE]
# - the retail probe, run with KELVORN_TEST_DIGESTS set, prints the retail
#   digests; the testing probe prints the fixture ones (and the retail
#   brglide, whose line is left out);
# - the variable's name appears (as 8-bit or UTF-16 text) in every testing
#   program and in no retail one, including kelvorn.exe when it is built.
set -u
work=$1
retail=$2
testing=$3
emulator=$4
kelvorn=${5:-}
kelvorn_testing=${6:-}
status=0
fail() { echo "FAIL: $*"; status=1; }

mentions() {
    { strings -a "$1"; strings -a -e l "$1"; } | grep -q KELVORN_TEST_DIGESTS
}

run() {
    if [ -n "$emulator" ]; then "$emulator" "$@" | tr -d '\r'; else "$@"; fi
}

rm -rf "$work"
mkdir -p "$work"
fixture=0123456789abcdef0123456789abcdef
printf 'disc_image=%s\ncue_sheet=%s\ncartridge_rom=%s\n' $fixture $fixture $fixture >"$work/digests.txt"
if [ -n "$emulator" ]; then
    KELVORN_TEST_DIGESTS=$(printf 'Z:%s' "$work/digests.txt" | tr / '\\')
else
    KELVORN_TEST_DIGESTS=$work/digests.txt
fi
export KELVORN_TEST_DIGESTS

retail_out=$(run "$retail") || fail "retail probe did not run"
expect_retail="disc_image=31c64f9b1e09788c2dfc384b44af8f6c
cue_sheet=a48a4a5860558177c3041afee57e03c9
cartridge_rom=6f7030284b6bc84a49e07da864526b52
brglide=5d6417cd547097fd00954c6874f85e97"
[ "$retail_out" = "$expect_retail" ] || fail "retail table changed by the variable: $retail_out"

testing_out=$(run "$testing") || fail "testing probe did not run"
expect_testing="disc_image=$fixture
cue_sheet=$fixture
cartridge_rom=$fixture
brglide=5d6417cd547097fd00954c6874f85e97"
[ "$testing_out" = "$expect_testing" ] || fail "testing table did not take the file: $testing_out"

mentions "$retail" && fail "$retail reads the fixture-digest variable"
mentions "$testing" || fail "$testing does not mention the fixture-digest variable"
for pair in "$kelvorn:0" "$kelvorn_testing:1"; do
    exe=${pair%:*}
    want=${pair##*:}
    [ -n "$exe" ] || continue
    if [ ! -f "$exe" ]; then
        echo "$exe is not built; not inspected"
        continue
    fi
    if mentions "$exe"; then has=1; else has=0; fi
    [ $has -eq "$want" ] || fail "$exe: variable name present=$has, expected $want"
done
rm -rf "$work"
[ $status -eq 0 ] && echo "reference tables as expected"
exit $status
