#!/bin/sh
# kelvorn-cli on a real terminal: runs it in a tmux pane and reads the pane
# back. The progress line must be redrawn in place (one line, never a
# scroll of them), carry percent, status, elapsed time and time left, and a
# check's line must make way for its verdict. Ctrl+C, typed into the pane
# twice, stops the run with 130: SIGINT natively, the console's control
# handler under Wine. The moments read back from a running program are held
# by the testing build's hold (KELVORN_TEST_HOLD_AT, KELVORN_TEST_HOLD) until
# the pane has been read, so a busy machine cannot make the test miss them.
#   terminal_bar.sh WORKDIR PROGRAM [EMULATOR [DISC_DIR]]
# With DISC_DIR (the fixture disc: br.bin, br.cue, digests.txt) a Boss
# Rally build is watched too, and its line caught while it encodes.
# With an emulator (Wine) the program gets Z:\ paths; KELVORN_WINEPREFIX
# is handed on to it. The captured panes stay in WORKDIR.
set -eu
work=$1
program=$2
emulator=${3:-}
disc=${4:-}
rm -rf "$work"
mkdir -p "$work"
socket=kelvorn-bar-$$
hold=$work/hold
trap 'rm -f "$hold"; tmux -L "$socket" kill-server 2>/dev/null || true' EXIT

host() {  # a path as the program sees it
    if [ -n "$emulator" ]; then printf 'Z:%s' "$1" | tr / '\\'; else printf '%s' "$1"; fi
}

# An 8 MiB ROM in z64 order that the test build accepts.
{ printf '\200\067\022\100'; head -c 8388604 /dev/urandom; } >"$work/rom.z64"
printf 'cartridge_rom=%s\n' "$(md5sum <"$work/rom.z64" | cut -c1-32)" >"$work/digests.txt"
# A big disc image whose check takes a while: sparse, read in full.
truncate -s 1G "$work/big.bin"
printf 'FILE "big.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' >"$work/big.cue"

# run NAME ARGS...: starts the program in a fresh 100-column pane.
# run_held AT NAME ARGS...: the same, and the program stops at the moment AT
# ("<percent> <status>") until release is called.
run() {
    name=$1
    shift
    # The pane's shell outlives a Ctrl+C meant for the program.
    cmd="trap : INT; cd '$work' && KELVORN_TEST_DIGESTS='$(host "${digests:-$work/digests.txt}")'"
    [ -n "${KELVORN_WINEPREFIX:-}" ] && cmd="$cmd KELVORN_WINEPREFIX='$KELVORN_WINEPREFIX'"
    if [ -n "${hold_at:-}" ]; then
        : >"$hold"
        cmd="$cmd KELVORN_TEST_HOLD_AT='$hold_at' KELVORN_TEST_HOLD='$(host "$hold")'"
    fi
    cmd="$cmd $emulator '$program'"
    for a in "$@"; do cmd="$cmd '$a'"; done
    session=$name
    tmux -L "$socket" new-session -d -s "$name" -x 100 -y 16 "$cmd; echo EXIT=\$?; while :; do sleep 600; done"
}
run_held() {
    hold_at=$1
    shift
    run "$@"
    hold_at=
}
pane() { tmux -L "$socket" capture-pane -p -t "$session"; }
release() { rm -f "$hold"; }
# wait_for PATTERN SECONDS: polls the pane every 0.1 s.
wait_for() {
    n=0
    while [ $n -lt $(($2 * 10)) ]; do
        if pane | grep -q "$1"; then return 0; fi
        sleep 0.1
        n=$((n + 1))
    done
    echo "pane never showed '$1':"
    pane
    return 1
}
fail() {
    echo "FAIL: $1"
    pane
    exit 1
}

# A Top Gear Rally build: one bar line, left at "Done".
run tgr --game tgr --rom "$(host "$work/rom.z64")" --dest "$(host "$work/out")"
wait_for 'EXIT=[0-9]' 120
pane >"$work/pane-tgr.txt"
grep -q 'EXIT=0$' "$work/pane-tgr.txt" || fail "the build did not exit 0"
[ "$(grep -c '%  ' "$work/pane-tgr.txt")" -eq 1 ] || fail "more than one progress line"
grep -Eq '^\[#{20}\] 100%  Done +[0-9]+:[0-9]{2} elapsed, 0:00 left$' "$work/pane-tgr.txt" ||
    fail "the progress line does not end at Done"
grep -q 'Reading the ROM\|Finishing' "$work/pane-tgr.txt" && fail "an earlier status stayed on screen"
grep -q '^Top Gear Rally is ready in ' "$work/pane-tgr.txt" || fail "no closing line"
grep -q "^Your file's MD5  [0-9a-f]\{32\}  ✓ matches$" "$work/pane-tgr.txt" || fail "no verdict line"

# The disc image's check: a bar while it is read, then its verdict alone.
run_held "5 Checking big.bin" check --bin "$(host "$work/big.bin")" --dest "$(host "$work/out")"
# Held at the first report of 5% or more, which the bar shows as 5%.
wait_for ' 5%  Checking big.bin .* elapsed, [0-9:]* left$' 120
pane >"$work/pane-check-running.txt"
release
[ "$(grep -c 'Checking' "$work/pane-check-running.txt")" -eq 1 ] || fail "more than one progress line"
grep -Eq '^\[[#-]{20}\] +[0-9]+%  Checking big.bin +[0-9]+:[0-9]{2} elapsed, ([0-9]+:[0-9]{2}|--:--) left$' \
    "$work/pane-check-running.txt" || fail "the progress line is not laid out as expected"
wait_for 'EXIT=[0-9]' 300
pane >"$work/pane-check-done.txt"
grep -q 'EXIT=3$' "$work/pane-check-done.txt" || fail "the rejected image did not exit 3"
grep -q 'Checking' "$work/pane-check-done.txt" && fail "the check's line was not wiped"
head -n 1 "$work/pane-check-done.txt" | grep -q '^big.bin$' || fail "the verdict does not start the pane"
grep -q "^Your file's MD5  [0-9a-f]\{32\}  ✗ does not match$" "$work/pane-check-done.txt" || fail "no verdict line"

# ctrl_c: Ctrl+C twice, as a user would press it.
ctrl_c() {
    tmux -L "$socket" send-keys -t "$session" C-c
    sleep 0.05
    tmux -L "$socket" send-keys -t "$session" C-c
}

# Ctrl+C while a (sparse, 16 GiB) disc image is checked: nothing written.
truncate -s 16G "$work/huge.bin"
sed 's/big.bin/huge.bin/' "$work/big.cue" >"$work/huge.cue"
run_held "1 Checking huge.bin" interrupt --bin "$(host "$work/huge.bin")" --dest "$(host "$work/out-interrupt")"
wait_for ' 1%  Checking huge.bin ' 120
ctrl_c
release
wait_for 'EXIT=[0-9]' 120
pane >"$work/pane-check-interrupted.txt"
grep -q 'EXIT=130$' "$work/pane-check-interrupted.txt" || fail "Ctrl+C did not give exit 130"
grep -q '^kelvorn-cli: cancelled; nothing was written$' "$work/pane-check-interrupted.txt" || fail "no message"
[ ! -e "$work/out-interrupt" ] || fail "the destination was made"
rm -f "$work/huge.bin"

panes="pane-tgr pane-check-running pane-check-done pane-check-interrupted"
if [ -n "$disc" ]; then
    # A Boss Rally build: caught while it encodes, with an estimate of the
    # time left, then left at "Done".
    digests=$disc/digests.txt
    # Some tracks in, so that the estimate has something to go on.
    run_held "0 Encoding the soundtrack: track 5" disc --bin "$(host "$disc/br.bin")" --dest "$(host "$work/out")"
    wait_for '%  Encoding the soundtrack: track 5 .* elapsed, [0-9:]* left$' 600
    pane >"$work/pane-disc-running.txt"
    release
    [ "$(grep -c '%  ' "$work/pane-disc-running.txt")" -eq 1 ] || fail "more than one progress line"
    grep -Eq '^\[[#-]{20}\] +[0-9]+%  Encoding the soundtrack: track [0-9]+ +[0-9:]+ elapsed, [0-9]+:[0-9]{2} left$' \
        "$work/pane-disc-running.txt" || fail "the progress line is not laid out as expected"
    wait_for 'EXIT=[0-9]' 3000
    pane >"$work/pane-disc-done.txt"
    grep -q 'EXIT=0$' "$work/pane-disc-done.txt" || fail "the Boss Rally build did not exit 0"
    [ "$(grep -c '%  ' "$work/pane-disc-done.txt")" -eq 1 ] || fail "more than one progress line"
    grep -Eq '^\[#{20}\] 100%  Done +[0-9:]+ elapsed, 0:00 left$' "$work/pane-disc-done.txt" ||
        fail "the progress line does not end at Done"
    grep -q '^Boss Rally is ready in ' "$work/pane-disc-done.txt" || fail "no closing line"
    panes="$panes pane-disc-running pane-disc-done"

    # Ctrl+C while a new build encodes over that one (--replace): exit 130,
    # no staging folder, the earlier build as it was.
    listing() { (cd "$work/out/Boss Rally" && find . -type f -exec md5sum {} + | sort); }
    listing >"$work/earlier-before.txt"
    run_held "0 Encoding the soundtrack: track 3" disc-interrupt --bin "$(host "$disc/br.bin")" \
        --dest "$(host "$work/out")" --replace
    wait_for '%  Encoding the soundtrack: track 3 ' 600
    ctrl_c
    release
    wait_for 'EXIT=[0-9]' 600
    pane >"$work/pane-disc-interrupted.txt"
    grep -q 'EXIT=130$' "$work/pane-disc-interrupted.txt" || fail "Ctrl+C did not give exit 130"
    grep -q '^kelvorn-cli: cancelled$' "$work/pane-disc-interrupted.txt" || fail "no message"
    [ ! -e "$work/out/.Boss Rally.building" ] || fail "the staging folder stayed"
    listing >"$work/earlier-after.txt"
    cmp -s "$work/earlier-before.txt" "$work/earlier-after.txt" || fail "the earlier build changed"
    panes="$panes pane-disc-interrupted"
    rm -rf "$work/out/Boss Rally"
fi

for f in $panes; do
    echo "--- $f"
    sed -e '/^$/d' "$work/$f.txt"
done
rm -f "$work/big.bin" "$work/rom.z64"
echo "the progress line is redrawn in place"
