#!/usr/bin/env bash
# Starts the program on a virtual X display with a simulated HID charger and passes once a window
# titled "Crenovix Ver2.1" appears (at most 10 s); the program is ended either way.
# Usage: tests/gui/start-under-xvfb.sh PATH_TO_CRENOVIX
set -euo pipefail

program="${1:?usage: start-under-xvfb.sh PATH_TO_CRENOVIX}"
title="Crenovix Ver2.1"

if [ -z "${CRENOVIX_UNDER_XVFB:-}" ]; then
    for tool in xvfb-run xauth xwininfo; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "error: $tool is missing (scripts/deps.sh lists the packages)" >&2
            exit 1
        fi
    done
    exec env CRENOVIX_UNDER_XVFB=1 xvfb-run -a "$0" "$@"
fi

# Under a name of its own, so that a copy the user is running cannot hold the single-instance lock.
workdir="$(mktemp -d)"
ln -s "$(readlink -f "$program")" "$workdir/crenovix-xvfb-check"
CRENOVIX_SIMULATE=hid QT_QPA_PLATFORM=xcb "$workdir/crenovix-xvfb-check" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$workdir"' EXIT

for _ in $(seq 1 100); do
    if xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; then
        echo "window \"$title\" shown"
        exit 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "error: the program ended before showing its window" >&2
        exit 1
    fi
    sleep 0.1
done
echo "error: no window \"$title\" within 10 s" >&2
xwininfo -root -tree >&2 || true
exit 1
