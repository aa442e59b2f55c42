#!/usr/bin/env bash
# The Windows installer under wine, for the current user and for all users: silent install, the
# installed crenovix-cli.exe prints the version, the Start-menu entry and the uninstall entry are
# there; silent uninstall, after which nothing is left of it on drive C: or in the registry.
# Runs inside the wine session of scripts/windows (WINEPREFIX, DISPLAY and the server set up).
# Usage: packaging/windows/test-installer.sh SETUP.EXE VERSION
set -euo pipefail
setup=$1
version=$2
wine64=/usr/lib/wine/wine64
drive="$WINEPREFIX/drive_c"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Crenovix'

# Everything on drive C: but the system folder and the temporary folders, which wine and the
# installer's plug-ins use on their own.
snapshot() {
    (cd "$drive" && find . \( -path ./windows -o -path './users/*/AppData/Local/Temp' \
                              -o -path './users/*/Temp' \) -prune -o -print | LC_ALL=C sort)
}
dir=""
fail() {
    echo "installer test: $*" >&2
    # Leave the prefix as it was for the next run.
    if [ -n "$dir" ] && [ -f "$dir/uninstall.exe" ]; then
        timeout 60 "$wine64" "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1 || true
    fi
    exit 1
}

before="$(mktemp)"
after="$(mktemp)"
trap 'rm -f "$before" "$after"' EXIT
snapshot >"$before"

for mode in CurrentUser AllUsers; do
    hive=HKCU
    [ "$mode" = AllUsers ] && hive=HKLM
    timeout 120 "$wine64" "$setup" /S "/$mode" </dev/null >/dev/null 2>&1 ||
        fail "$mode: the silent install failed"
    if [ "$mode" = CurrentUser ]; then
        dir="$(find "$drive/users" -path '*/AppData/Local/Programs/Crenovix' -type d | head -n 1)"
        menu="$(find "$drive/users" -path '*/Start Menu/Programs/Crenovix.lnk' | head -n 1)"
    else
        dir="$drive/Program Files/Crenovix"
        menu="$(find "$drive/ProgramData" -path '*/Start Menu/Programs/Crenovix.lnk' | head -n 1)"
    fi
    [ -n "$dir" ] && [ -f "$dir/crenovix.exe" ] && [ -f "$dir/examples/sample-3des.bin" ] ||
        fail "$mode: the programs are not where they belong (${dir:-no folder})"
    [ -n "$menu" ] || fail "$mode: no Start-menu entry"
    timeout 60 "$wine64" reg query "$hive\\$key" /v InstallMode </dev/null >/dev/null 2>&1 ||
        fail "$mode: no uninstall entry in $hive"
    printed="$(timeout 60 "$wine64" "$dir/crenovix-cli.exe" --version </dev/null 2>/dev/null | tr -d '\r')"
    [ "$printed" = "crenovix-cli $version" ] ||
        fail "$mode: the installed crenovix-cli.exe printed '$printed'"

    # The uninstaller copies itself away and returns at once: wait for its work to end.
    timeout 60 "$wine64" "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1 ||
        fail "$mode: the silent uninstall failed to start"
    for _ in $(seq 1 300); do
        [ -e "$dir" ] || break
        sleep 0.2
    done
    [ ! -e "$dir" ] || fail "$mode: the uninstaller left $dir"
    if timeout 60 "$wine64" reg query "$hive\\$key" </dev/null >/dev/null 2>&1; then
        fail "$mode: the uninstall entry is still in $hive"
    fi
    snapshot >"$after"
    diff -u "$before" "$after" >&2 || fail "$mode: files left behind on drive C: (above)"
    echo "Installer, $mode: installed, crenovix-cli.exe --version, uninstalled without a trace"
done
