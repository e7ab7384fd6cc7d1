#!/usr/bin/env bash
# The Debian package as a user meets it. Made by CPack from a built folder,
# its AppStream metadata, desktop entry and manual pages validated, lintian
# run over it (an error fails), then unpacked into a throw-away root whose
# programs must run on the system's own Qt and draw exactly the build's map.
# As root it is also installed for real with apt-get, run, purged, and not a
# file of it may remain; that part changes /usr, so it is skipped for other
# users, when a copy of Terralume is already installed, and when
# TERRALUME_PACKAGE_INSTALL=no.
#
#   scripts/package.sh [BUILD_DIR]   (default build-check)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build-check}" && pwd) || exit 2
work=$(mktemp -d)
program_pid=
installed=
cleanup() {
    [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
    # A run cut short must not leave its package on the machine.
    [[ -n $installed ]] && DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq -o DPkg::Lock::Timeout=600 terralume >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
say() { printf 'package: %s\n' "$*" >&2; }
fail() {
    say "FAILED: $*"
    failures=$((failures + 1))
}

for tool in cpack dpkg-deb lintian appstreamcli desktop-file-validate man; do
    command -v "$tool" >/dev/null || { say "$tool not found (install the packages in scripts/debian-test-packages.txt)"; exit 2; }
done

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; say "cpack failed"; exit 1; }
debs=("$work"/out/terralume_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { say "cpack made no single terralume package"; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
say "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"

# Lintian's verdict, every tag shown; errors fail.
lintian --fail-on error --display-info "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
sed 's/^/lintian: /' "$work/lintian.log" >&2
say "lintian: $(grep -c '^E:' "$work/lintian.log") errors, $(grep -c '^W:' "$work/lintian.log") warnings, $(grep -c '^I:' "$work/lintian.log") infos"

staged=$work/root
dpkg-deb -x "$deb" "$staged" || { say "cannot unpack $deb"; exit 1; }

# AppStream: valid, naming the desktop entry that is shipped and the
# package's version as its newest release.
metainfo=("$staged"/usr/share/metainfo/*.metainfo.xml)
if [[ ${#metainfo[@]} -ne 1 || ! -f ${metainfo[0]} ]]; then
    fail "no single AppStream metainfo file in /usr/share/metainfo"
else
    appstreamcli validate --no-net "${metainfo[0]}" >&2 || fail "appstreamcli rejects $(basename "${metainfo[0]}")"
    id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "${metainfo[0]}" | head -1)
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "${metainfo[0]}")
    [[ $(basename "${metainfo[0]}") == "$id.metainfo.xml" ]] || fail "the metainfo file is not named after its id $id"
    [[ $launchable == "$id.desktop" && -f $staged/usr/share/applications/$launchable ]] ||
        fail "the metainfo launches '$launchable', not the shipped $id.desktop"
    newest=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "${metainfo[0]}" | head -1)
    [[ $newest == "$version" ]] || fail "the newest AppStream release is '$newest', the package $version"
fi

# The desktop entry: valid, starting a shipped program, with a shipped icon.
for entry in "$staged"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" >&2 || fail "desktop-file-validate rejects $(basename "$entry")"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [[ -x $staged/usr/bin/$exec_name ]] || fail "$(basename "$entry") starts '$exec_name', which is not in /usr/bin"
    [[ -f $staged/usr/share/icons/hicolor/scalable/apps/$icon.svg && -f $staged/usr/share/icons/hicolor/48x48/apps/$icon.png ]] ||
        fail "the icon '$icon' is not in the hicolor theme"
done

# A manual page for every program, rendered without a warning.
for program in "$staged"/usr/bin/*; do
    page=$staged/usr/share/man/man1/$(basename "$program").1.gz
    if [[ ! -f $page ]]; then
        fail "no manual page for $(basename "$program")"
        continue
    fi
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man warns about $(basename "$page"): $warnings"
done

# Runs the installed programs under PREFIX (the throw-away root or /usr) on
# the system's libraries alone.
check_programs() {
    local prefix=$1 where=$2
    local render=$prefix/bin/terralume-render program=$prefix/bin/terralume
    for binary in "$render" "$program"; do
        if readelf -d "$binary" | grep -qE 'RPATH|RUNPATH'; then
            fail "$where: $(basename "$binary") carries a library search path"
        fi
    done
    local shown
    shown=$(env -u LD_LIBRARY_PATH "$render" --version) || fail "$where: terralume-render --version failed"
    [[ $shown == "terralume-render $version" ]] || fail "$where: terralume-render --version says '$shown', the package is $version"

    # The installed renderer draws exactly what the build's own draws.
    local settings=(--size Medium --seed 1234 --water 5 --heat -12 --title Isles)
    local made=$work/$where
    mkdir -p "$made"
    if env -u LD_LIBRARY_PATH "$render" "${settings[@]}" --png "$made/map.png" --heights "$made/map.pgm" &&
        "$build/tools/terralume-render" "${settings[@]}" --png "$made/own.png" --heights "$made/own.pgm"; then
        cmp -s "$made/map.png" "$made/own.png" || fail "$where: the installed renderer's picture differs from the build's"
        cmp -s "$made/map.pgm" "$made/own.pgm" || fail "$where: the installed renderer's heights differ from the build's"
    else
        fail "$where: a render failed"
    fi

    # The program runs: its first start serves the single-instance channel
    # (made before its windows) and a second start is answered by its event
    # loop, which needs the windows up.
    local runtime=$work/runtime-$where
    mkdir -m 700 "$runtime"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$runtime env -u LD_LIBRARY_PATH "$program" 2>"$made/first.err" &
    program_pid=$!
    local socket=
    for ((tries = 0; tries < 600; tries++)); do
        socket=$(find "$runtime/terralume" -name '*.socket' 2>/dev/null | head -1)
        [[ -n $socket ]] && break
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ -z $socket ]]; then
        fail "$where: terralume never served its channel: $(cat "$made/first.err")"
    else
        local status=0
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$runtime timeout 60 env -u LD_LIBRARY_PATH "$program" 2>"$made/second.err" ||
            status=$?
        [[ $status -eq 0 && ! -s $made/second.err ]] ||
            fail "$where: a second start was not answered (status $status): $(cat "$made/second.err")"
        kill -0 "$program_pid" 2>/dev/null || fail "$where: the first terralume ended: $(cat "$made/first.err")"
    fi
    kill "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    program_pid=
}

check_programs "$staged/usr" unpacked

# The renderer's manual page lists exactly the options its --help lists.
options_of() { grep -oE -- '--[a-z]+' | sort -u; }
help_options=$(env -u LD_LIBRARY_PATH "$staged/usr/bin/terralume-render" --help | options_of)
page_options=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$staged/usr/share/man/man1/terralume-render.1.gz" 2>/dev/null |
    sed -n '/^OPTIONS/,/^[A-Z]/p' | options_of)
[[ -n $help_options && $help_options == "$page_options" ]] ||
    fail "terralume-render's manual page and --help list different options: $(diff <(echo "$help_options") <(echo "$page_options") | grep '^[<>]' | tr '\n' ' ')"

# Installed for real, then purged without a trace.
on_machine() {
    local state
    state=$(dpkg-query -W -f='${db:Status-Status}' terralume 2>/dev/null)
    [[ -n $state && $state != not-installed ]]
}
if [[ $(id -u) -ne 0 ]]; then
    say "not root: skipping apt-get install of the package"
elif [[ ${TERRALUME_PACKAGE_INSTALL:-yes} == no ]]; then
    say "TERRALUME_PACKAGE_INSTALL=no: skipping apt-get install of the package"
elif on_machine || [[ -e /usr/bin/terralume || -e /usr/bin/terralume-render ]]; then
    say "Terralume is already installed on this machine: skipping apt-get install of the package"
else
    dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's:^\./:/:; s:/$::' | grep -v '^$' >"$work/contents"
    installed=yes
    if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "$deb" >"$work/apt.log" 2>&1; then
        check_programs /usr installed
        LC_ALL=C.UTF-8 man -w terralume-render >/dev/null 2>&1 || fail "man does not find terralume-render's page once installed"
        if DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq -o DPkg::Lock::Timeout=600 terralume >"$work/apt.log" 2>&1; then
            installed=
        else
            fail "apt-get remove --purge terralume failed: $(cat "$work/apt.log")"
        fi
        on_machine && fail "dpkg still knows terralume after the purge ($(dpkg-query -W -f='${db:Status-Status}' terralume))"
        # Files and the package's own folders; folders other packages share
        # (/usr/share/icons/hicolor/48x48/apps, ...) stay.
        left=$(while read -r path; do
            if [[ -e $path && ! -d $path ]] || [[ -d $path && $path == */terralume* ]]; then echo "$path"; fi
        done <"$work/contents")
        [[ -z $left ]] || fail "the purge left: $left"
        say "installed, ran and purged $(basename "$deb"); $(wc -l <"$work/contents") paths checked"
    else
        fail "apt-get install ./$(basename "$deb") failed: $(cat "$work/apt.log")"
    fi
fi

if ((failures)); then
    say "$failures check(s) failed"
    exit 1
fi
say "all checks passed"
