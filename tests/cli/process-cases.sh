#!/bin/sh
# Command-line behaviours that need a second process: interrupts during an update and during
# update --watch, a port another program holds and an update file changed while it is written. Usage: process-cases.sh CLI FILE CASE
cli=$1 file=$2 case=$3
out=$(mktemp -d) || exit 1
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; cat "$out/stdout" "$out/stderr"; exit 1; }

case $case in
interrupt-once | interrupt-twice)
    # The simulated charger restarts for 1.5 s after the boot request: interrupt in that wait.
    "$cli" update --simulate hid "$file" >"$out/stdout" 2>"$out/stderr" &
    pid=$!
    sleep 0.4
    kill -INT "$pid"
    sleep 0.3
    kill -0 "$pid" 2>/dev/null || fail "the first interrupt ended the run"
    [ "$case" = interrupt-twice ] && kill -TERM "$pid"
    wait "$pid"
    status=$?
    [ "$(grep -c 'Interrupt again to abort' "$out/stderr")" = 1 ] || fail "no single warning"
    if [ "$case" = interrupt-once ]; then
        [ $status = 0 ] && grep -q 'Verified: payload matches' "$out/stdout" ||
            fail "exit $status after one interrupt"
    else
        [ $status = 130 ] || fail "exit $status after two interrupts"
        tail -n 1 "$out/stderr" | grep -q 'may be left in its boot loader: run the update again' ||
            fail "no last message"
    fi
    ;;
watch-interrupt-once | watch-interrupt-twice)
    # --watch updates both chargers at once; the interrupt comes while they restart: the first
    # ends the watch once the runs have finished, a second aborts them.
    "$cli" update --watch --simulate hid,serial --json "$file" >"$out/stdout" 2>"$out/stderr" &
    pid=$!
    sleep 0.4
    kill -INT "$pid"
    sleep 0.3
    kill -0 "$pid" 2>/dev/null || fail "the first interrupt ended the runs"
    [ "$case" = watch-interrupt-twice ] && kill -TERM "$pid"
    wait "$pid"
    status=$?
    if [ "$case" = watch-interrupt-once ]; then
        [ $status = 0 ] || fail "exit $status after one interrupt"
        [ "$(grep -c '"event": "result".*"ok": true' "$out/stdout")" = 2 ] || fail "two results"
        tail -n 1 "$out/stdout" | grep -q '"summary", "ok": 2, "failed": 0' || fail "summary"
    else
        [ $status = 130 ] || fail "exit $status after two interrupts"
        tail -n 1 "$out/stderr" | grep -q 'may be left in its boot loader' || fail "no last message"
    fi
    ;;
watch-plug-later)
    # A simulated charger plugged in 1.5 s after the watch began is updated as it comes.
    "$cli" update --watch --simulate hid,serial@1500 --json "$file" >"$out/stdout" 2>"$out/stderr" &
    pid=$!
    sleep 4.5
    kill -INT "$pid"
    wait "$pid"
    status=$?
    [ $status = 0 ] || fail "exit $status"
    grep -q '"result", "port": "HID1", "serial": "SIM1001", [^}]*"ok": true' "$out/stdout" &&
        grep -q '"result", "port": "simtty0", "serial": "SIM2001", [^}]*"ok": true' "$out/stdout" ||
        fail "a result"
    tail -n 1 "$out/stdout" | grep -q '"summary", "ok": 2, "failed": 0' || fail "summary"
    ;;
watch-terminal)
    # On a terminal a watch prints plain lines as they come, no lines redrawn in place.
    script -qec "timeout -s INT 4 '$cli' update --watch --simulate hid '$file'" /dev/null \
        >"$out/stdout" 2>"$out/stderr"
    grep -q 'HID1: Upgrade completion!' "$out/stdout" || fail "no result line"
    grep -q "$(printf '\033')\\[" "$out/stdout" && fail "lines redrawn in place"
    tail -n 1 "$out/stdout" | grep -q 'Summary: 1 updated, 0 failed' || fail "summary"
    ;;
port-busy)
    # A pseudo-terminal master is a tty; holding the lock on /dev/ptmx makes every new one busy.
    flock /dev/ptmx sleep 2 &
    holder=$!
    sleep 0.3
    "$cli" update --port /dev/ptmx "$file" >"$out/stdout" 2>"$out/stderr"
    status=$?
    kill "$holder"
    [ $status = 1 ] || fail "exit $status"
    [ "$(cat "$out/stdout")" = "Error opening COM port" ] || fail "box text"
    grep -q 'The port is busy' "$out/stderr" || fail "no reason"
    ;;
file-changes)
    # The run loaded the file before it changed: it succeeds, but the command may not.
    cp "$file" "$out/fw.bin"
    "$cli" update --simulate hid "$out/fw.bin" >"$out/stdout" 2>"$out/stderr" &
    pid=$!
    sleep 0.4
    printf x >>"$out/fw.bin"
    wait "$pid"
    status=$?
    [ $status = 1 ] && grep -q 'Verified: payload matches' "$out/stdout" || fail "exit $status"
    grep -q 'the update file changed during the update' "$out/stderr" || fail "no note"
    ;;
*)
    echo "unknown case $case"
    exit 2
    ;;
esac
