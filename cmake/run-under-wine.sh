#!/usr/bin/env bash
# The emulator of the Windows build: runs a test program under wine. Under load, wine now and then
# fails to start a program at all: it ends at once without writing a single line. Such a start,
# and only such a start, is made once more; a program that wrote anything keeps its result.
# Usage: cmake/run-under-wine.sh WINE64 PROGRAM [ARGS...]
set -u
wine64="$1"
shift
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
status=0
for attempt in 1 2; do
    "$wine64" "$@" | tee "$out"
    status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] || [ -s "$out" ]; then
        break
    fi
    [ "$attempt" -eq 2 ] || echo "run-under-wine: $1 ended with $status before writing anything; starting it again" >&2
done
exit "$status"
