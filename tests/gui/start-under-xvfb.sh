#!/usr/bin/env bash
# Starts the program on a virtual X display with a simulated HID charger and passes once a window
# titled "Crenovix Ver2.1" appears (at most 20 s); the program is ended either way. The Windows
# program runs through its emulator (wine), on the display the wine session already has: with
# CRENOVIX_UNDER_XVFB set, the display in DISPLAY is used as it is.
# Usage: tests/gui/start-under-xvfb.sh PATH_TO_CRENOVIX [EMULATOR]
set -euo pipefail

program="${1:?usage: start-under-xvfb.sh PATH_TO_CRENOVIX [EMULATOR]}"
emulator="${2:-}"
title="Crenovix Ver2.1"

if [ -z "${CRENOVIX_UNDER_XVFB:-}" ]; then
    for tool in xvfb-run xauth xwininfo xprop; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "error: $tool is missing (scripts/deps.sh lists the packages)" >&2
            exit 1
        fi
    done
    exec env CRENOVIX_UNDER_XVFB=1 xvfb-run -a "$0" "$@"
fi

# Under a name of its own, so that a copy the user is running cannot hold the single-instance lock.
workdir="$(mktemp -d)"
copy="$workdir/crenovix-xvfb-check"
[ -z "$emulator" ] || copy="$copy.exe"
ln -s "$(readlink -f "$program")" "$copy"
# No catalogue server answers on port 9: nothing leaves the machine.
CRENOVIX_SIMULATE=hid QT_QPA_PLATFORM=xcb CRENOVIX_PRIMARY_SERVER=http://127.0.0.1:9 \
    CRENOVIX_SECOND_SERVER=http://127.0.0.1:9 ${emulator:+"$emulator"} "$copy" </dev/null &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$workdir"' EXIT

# A window of this process: tests running beside this one may show windows of the same title.
shown_by_program() {
    local id
    for id in $(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\":" 'index($0, t) {print $1}'); do
        if xprop -id "$id" _NET_WM_PID 2>/dev/null | grep -qx "_NET_WM_PID(CARDINAL) = $pid"; then
            return 0
        fi
    done
    return 1
}

for _ in $(seq 1 200); do
    if shown_by_program; then
        echo "window \"$title\" shown"
        exit 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "error: the program ended before showing its window" >&2
        exit 1
    fi
    sleep 0.1
done
echo "error: no window \"$title\" within 20 s" >&2
xwininfo -root -tree >&2 || true
exit 1
