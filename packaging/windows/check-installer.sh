#!/usr/bin/env bash
# The Windows installer under Wine, in a throw-away prefix: a silent install
# must put every program file, the Start-menu entry and the uninstall entry
# in place, the installed renderer must run when the folder holds the real
# build, and a silent uninstall must leave nothing behind.
#
#   packaging/windows/check-installer.sh INSTALLER
set -uo pipefail

installer=$(realpath "${1:?the installer to check}")
prefix=$(mktemp -d)
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null
    rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

failures=0
say() { printf 'installer: %s\n' "$*" >&2; }
fail() {
    say "FAILED: $*"
    failures=$((failures + 1))
}

if ! { wineboot -i >/dev/null 2>&1 && wineserver -w; }; then
    say "cannot make a Wine prefix"
    exit 2
fi
target='C:\Program Files\Terralume'
folder="$prefix/drive_c/Program Files/Terralume"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Terralume.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Terralume'

# /D must come last and unquoted.
if ! { wine "$installer" /S "/D=$target" && wineserver -w; }; then
    fail "the silent install failed"
fi
for file in terralume.exe terralume-render.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll uninstall.exe; do
    [[ -f $folder/$file ]] || fail "not installed: $file"
done
[[ ! -e $folder/Qt6Test.dll ]] || fail "Qt's test library was installed"
[[ -f $shortcut ]] || fail "no Start-menu entry"
wine reg query "$key" /v UninstallString >/dev/null 2>&1 || fail "no uninstall entry in the registry"
# A real build runs; the stand-ins of a dry run are not programs.
if [[ $(head -c 2 "$folder/terralume-render.exe") == MZ ]]; then
    shown=$(wine "$folder/terralume-render.exe" --version 2>/dev/null | tr -d '\r')
    [[ $shown == "terralume-render "* ]] || fail "the installed renderer does not run: '$shown'"
fi

# The installed program starts and shows its settings window on the
# display, through Qt's Windows platform plugin as a user would meet it;
# the wait is for the window itself.
if [[ $(head -c 2 "$folder/terralume.exe") == MZ && -n ${DISPLAY:-} ]] && command -v xdotool >/dev/null; then
    (cd "$prefix" && exec wine "$folder/terralume.exe") >/dev/null 2>&1 &
    program=$!
    if ! timeout 120 xdotool search --sync --onlyvisible --name '^Terralume$' >/dev/null 2>&1; then
        fail "the installed program showed no window"
    fi
    wineserver -k
    wait "$program" 2>/dev/null
fi

# The uninstaller copies itself away and runs from there; wineserver -w
# waits for that copy too.
if ! { wine "$folder/uninstall.exe" /S && wineserver -w; }; then
    fail "the silent uninstall failed"
fi
[[ ! -e $folder ]] || fail "the uninstall left: $(cd "$folder" && find . | tr '\n' ' ')"
[[ ! -e $shortcut ]] || fail "the uninstall left the Start-menu entry"
wine reg query "$key" >/dev/null 2>&1 && fail "the uninstall left the registry entry"

if ((failures)); then
    say "$failures check(s) failed"
    exit 1
fi
say "installed, checked and uninstalled $(basename "$installer")"
