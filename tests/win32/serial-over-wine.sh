#!/usr/bin/env bash
# The serial dialogue through the Win32 adapter under wine, against the simulated charger behind a
# pseudo-terminal: starts the native charger host, maps COM<n> of the wine prefix to its slave
# (a dosdevices link), runs the Windows program and compares what the program sent with what the
# charger recorded, rates included.
#
# Usage: serial-over-wine.sh <crenovix-sim-host> <wine64> <crenovix_serial_over_wine.exe> <COMn>
#                            plain|usb
# WINEPREFIX names the prefix (the test preset sets it).
#
# plain: a charger on a plain port; the whole dialogue runs at 9600 and must complete.
# usb:   a USB serial charger; boot request at 9600, boot loader at 128000. Wine's serial layer
#        cannot put 128000 on a pseudo-terminal: Linux has no B-constant for it, and wine 8 asks
#        for it through the serial driver's custom divisor (TIOCSSERIAL), which a pty refuses, and
#        then sets B38400 while SetCommState still reports success. The charger's boot loader then
#        hears noise and the run has to end without claiming success. When the boot loader does
#        hear the program at 128000 (a wine that carries the rate), the run must complete.
set -euo pipefail

if [ $# -ne 5 ]; then
    echo "usage: $0 <sim-host> <wine64> <exe> <COMn> plain|usb" >&2
    exit 2
fi
host=$1 wine=$2 exe=$3 port=$4 kind=$5
: "${WINEPREFIX:?WINEPREFIX must name the wine prefix the tests run in}"

work=$(mktemp -d)
link="$WINEPREFIX/dosdevices/${port,,}"
host_pid=
cleanup() {
    if [ -n "$host_pid" ]; then
        kill -TERM "$host_pid" 2>/dev/null || true
        wait "$host_pid" 2>/dev/null || true
    fi
    rm -f "$link"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP # so that a time-out of the caller still cleans up

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

host_args=()
if [ "$kind" = plain ]; then
    host_args=(--plain)
fi
"$host" "${host_args[@]}" >"$work/host.out" 2>"$work/host.err" </dev/null &
host_pid=$!
for _ in $(seq 100); do
    grep -q '^slave ' "$work/host.out" && break
    sleep 0.1
done
slave=$(sed -n 's/^slave //p' "$work/host.out")
if [ -z "$slave" ]; then
    echo "the charger host did not start:" >&2
    cat "$work/host.err" >&2
    exit 1
fi
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$slave" "$link"

# warn+comm: wine's serial layer names a rate it cannot set as asked. Output goes to files only:
# wine's background services inherit it and would otherwise hold the caller's pipe open.
run_status=0
WINEDEBUG=warn+comm timeout 100 "$wine" "$exe" "$port" "$kind" \
    >"$work/run.out" 2>"$work/wine.log" </dev/null || run_status=$?
# The Windows program ends its lines with CR LF.
sed -i 's/\r$//' "$work/run.out"
kill -TERM "$host_pid"
wait "$host_pid" || fail "the charger host ended with status $?"
host_pid=

echo "--- program"
cat "$work/run.out"
echo "--- charger"
sed 1d "$work/host.out"

[ "$run_status" -eq 0 ] || fail "the program ended with status $run_status"

field() { # the rest of the line that begins with $1 in file $2
    sed -n "s/^$1 //p" "$2" | head -n 1
}
# Every rate in a "baud" line equals $2, and there are $3 of them ("" for any number but none).
all_at() {
    local rates count
    rates=$(sed -n "s/^baud $1 *//p" "$work/host.out")
    count=$(wc -w <<<"$rates")
    if [ -n "$3" ] && [ "$count" -ne "$3" ]; then
        fail "$1: $count frames, expected $3 ($rates)"
    elif [ "$count" -eq 0 ]; then
        fail "$1: no frame"
    elif tr ' ' '\n' <<<"$rates" | grep -q -v -x "$2"; then
        fail "$1 at rates $rates, expected $2"
    fi
}

[ "$(field probe "$work/run.out")" = 1 ] || fail "probing the port failed"
all_at boot-request 9600 ""

expected=$(field expected "$work/run.out")
stored=$(field payload "$work/host.out")
boxes=$(sed -n 's/^box //p' "$work/run.out")
knocks=$(sed -n 's/^baud knock *//p' "$work/host.out")
line=$(field line "$work/host.out")

if [ "$kind" = plain ] || grep -q -w 128000 <<<"$knocks"; then
    rate=9600
    [ "$kind" = usb ] && rate=128000
    [ "$boxes" = "Success|Upgrade completion!" ] || fail "the run ended with: $boxes"
    [ "$(field complete "$work/host.out")" = 1 ] || fail "the charger stored no complete payload"
    if [ -z "$expected" ] || [ "$stored" != "$expected" ]; then
        fail "payload stored: $stored, sent: $expected"
    fi
    all_at knock "$rate" 1
    all_at length-frame "$rate" 1
    all_at data-frame "$rate" 6
    all_at last-frame "$rate" 1
    [ "$(field noise "$work/host.out")" = 0 ] || fail "the charger dropped bytes"
else
    # What wine does with 128000 on a pseudo-terminal, step by step, and that the run says so.
    grep -q 'non-standard baud rate 128000' "$work/wine.log" ||
        fail "the program never asked wine's serial layer for 128000"
    grep -q -w 38400 <<<"$line" || fail "the line never went to 38400 (rates: $line)"
    [ -z "$knocks" ] || fail "the boot loader heard a knock at $knocks"
    [ "$(field noise "$work/host.out")" -gt 0 ] || fail "no bytes reached the boot loader"
    [ "$(field complete "$work/host.out")" = 0 ] || fail "the charger stored a payload"
    [ "$boxes" = "Info|Device not found." ] ||
        fail "the run ended with: $boxes (expected the boot loader not to be found)"
    echo "NOTE: wine set 38400 on the pseudo-terminal for the 128000 the program asked for;" \
        "the boot loader was not reached and the run reported it"
fi

if [ "$failures" -ne 0 ]; then
    echo "--- wine (warnings of the serial layer)" >&2
    grep ':comm:' "$work/wine.log" | sort | uniq -c | head -n 20 >&2 || true
    exit 1
fi
echo "PASS ($kind on $port)"
