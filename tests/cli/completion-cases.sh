#!/usr/bin/env bash
# What bash completes for crenovix-cli with the completion the package installs.
# Usage: completion-cases.sh COMPLETION DIRECTORY (a directory holding fw.bin)
source "$1"
cd "$2" || exit 1
status=0
# The words typed so far (the last one being completed) and the offers expected, sorted.
expect() {
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _crenovix_cli
    local got
    got="$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')"
    if [ "$got" != "$want " ]; then
        echo "FAIL: '$*' offers '$got', not '$want'"
        status=1
    fi
}
expect "update" crenovix-cli up
expect "list" crenovix-cli li
expect "--watch" crenovix-cli update --wa
expect "--serial --simulate" crenovix-cli update --s
expect "fw.bin" crenovix-cli update --watch fw.
expect "fw.bin" crenovix-cli update --record fw.
expect "fw.bin" crenovix-cli update --log fw.
expect "--log" crenovix-cli update --watch --l
expect "--no-log" crenovix-cli update --n
expect "" crenovix-cli update --serial fw.
expect "--udev-rules" crenovix-cli doctor --u
exit $status
