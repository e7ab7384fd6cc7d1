#!/usr/bin/env bash
# The Windows installer under Wine, in a throw-away prefix: a silent install
# must put every program file, the licences, the Start-menu entry and the
# uninstall entry in place, with stripped binaries; the installed program
# must start; neither the installer nor the uninstaller may run while it
# does; installing again upgrades in place; and a silent uninstall must
# leave nothing behind, the program's own settings included.
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
# Wine's menu builder would write launchers for the installed program into
# the real home folder: everything stays in the prefix.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

failures=0
say() { printf 'installer: %s\n' "$*" >&2; }
fail() {
    say "FAILED: $*"
    failures=$((failures + 1))
}

# Anything Wine writes for the desktop outside the prefix is newer than this.
started="$prefix/started"
touch "$started"
if ! { wineboot -i >/dev/null 2>&1 && wineserver -w; }; then
    say "cannot make a Wine prefix"
    exit 2
fi
target='C:\Program Files\Terralume'
folder="$prefix/drive_c/Program Files/Terralume"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Terralume/Terralume.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Terralume'
settings='HKCU\Software\Terralume'
real_build() { [[ $(head -c 2 "$folder/$1") == MZ ]]; }

# /D must come last and unquoted.
if ! { wine "$installer" /S "/D=$target" && wineserver -w; }; then
    fail "the silent install failed"
fi
for file in terralume.exe terralume-render.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll uninstall.exe \
    licenses/LICENSE.txt licenses/Qt.txt licenses/LGPL-3.txt licenses/libjpeg-turbo.txt licenses/MinGW-runtime.txt; do
    [[ -f $folder/$file ]] || fail "not installed: $file"
done
[[ ! -e $folder/Qt6Test.dll ]] || fail "Qt's test library was installed"
[[ -f $shortcut ]] || fail "no Start-menu entry"
for value in UninstallString DisplayVersion Publisher DisplayIcon EstimatedSize; do
    wine reg query "$key" /v "$value" >/dev/null 2>&1 || fail "the uninstall entry has no $value"
done
# A real build runs; the stand-ins of a dry run are not programs.
if real_build terralume-render.exe; then
    for file in terralume.exe libstdc++-6.dll Qt6Core.dll; do
        x86_64-w64-mingw32-nm "$folder/$file" 2>&1 | grep -q "no symbols" || fail "not stripped: $file"
    done
    shown=$(wine "$folder/terralume-render.exe" --version 2>/dev/null | tr -d '\r')
    [[ $shown == "terralume-render "* ]] || fail "the installed renderer does not run: '$shown'"
fi

# The installed program starts and shows its settings window on the
# display, through Qt's Windows platform plugin as a user would meet it;
# the wait is for the window itself. While it runs, neither the installer
# (which ends with code 2) nor the uninstaller touches a file. The
# uninstaller hands over to a copy of itself in the temporary folder and
# ends at once, so the copy is waited for; under Wine even a run in place
# (_?=) does its work in another process.
if real_build terralume.exe && [[ -n ${DISPLAY:-} ]] && command -v xdotool >/dev/null; then
    (cd "$prefix" && exec wine "$folder/terralume.exe") >/dev/null 2>&1 &
    program=$!
    if ! timeout 120 xdotool search --sync --onlyvisible --name '^Terralume$' >/dev/null 2>&1; then
        fail "the installed program showed no window"
    fi
    before=$(cd "$folder" && find . -type f -printf '%p %s %T@\n' | sort)
    wine "$installer" /S "/D=$target"
    code=$?
    ((code == 2)) || fail "the installer ran while Terralume did (exit code $code)"
    wine "$folder/uninstall.exe" /S
    timeout 60 bash -c "while pgrep -f '[U]n_[A-Z]\.exe|[~]nsu' >/dev/null; do sleep 0.1; done" ||
        fail "the uninstaller did not end"
    wine reg query "$key" >/dev/null 2>&1 || fail "the uninstaller ran while Terralume did"
    [[ $(cd "$folder" && find . -type f -printf '%p %s %T@\n' | sort) == "$before" ]] ||
        fail "files changed while Terralume ran"
    wineserver -k
    wait "$program" 2>/dev/null
    # Closed, installing again upgrades in place.
    if ! { wine "$installer" /S "/D=$target" && wineserver -w; }; then
        fail "installing over the installed program failed"
    fi
    [[ -f $folder/terralume.exe && -f $shortcut ]] || fail "installing again lost files"
fi

# The folder the program remembers, as it keeps it.
wine reg add "$settings\Terralume\save" /v lastFolder /d 'C:\users' /f >/dev/null 2>&1

# The uninstaller copies itself away and runs from there; wineserver -w
# waits for that copy too.
if ! { wine "$folder/uninstall.exe" /S && wineserver -w; }; then
    fail "the silent uninstall failed"
fi
[[ ! -e $folder ]] || fail "the uninstall left: $(cd "$folder" && find . | tr '\n' ' ')"
[[ ! -e $shortcut ]] || fail "the uninstall left the Start-menu entry"
wine reg query "$key" >/dev/null 2>&1 && fail "the uninstall left the registry entry"
wine reg query "$settings" >/dev/null 2>&1 && fail "the uninstall left the program's settings"
[[ ! -e "$(dirname "$shortcut")" ]] || fail "the uninstall left the Start-menu folder"

outside=$(find "$HOME/.local/share/applications" "$HOME/.local/share/icons" "$HOME/.local/share/desktop-directories" \
    "$HOME/.config/menus" -newer "$started" 2>/dev/null | head -3)
[[ -z $outside ]] || fail "written outside the prefix: $outside"

if ((failures)); then
    say "$failures check(s) failed"
    exit 1
fi
say "installed, checked and uninstalled $(basename "$installer")"
