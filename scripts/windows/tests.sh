#!/usr/bin/env bash
# Runs the Windows tests of build-windows/ under Wine: the test programs the
# build lists, File > Print through Wine's spooler, the renderer's bytes
# against the Linux build's, and the installer. Logs: build-windows/test-logs/.
#
# Usage: scripts/windows/tests.sh
# Ends with the line "wine tests: P passed, F failed".
set -euo pipefail
# shellcheck source=scripts/windows/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
logs="$build/test-logs"

[[ -f $build/windows-gtests.txt ]] || die "no Windows build in $build: run scripts/windows.sh build first"

xvfb_pid=""
stop_display() { [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true; }

# Wine's own windows and Qt's test programs need an X server even when Qt
# draws offscreen: without one they wait for ever.
start_display() {
  local fifo number
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  trap stop_display EXIT
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
}

# The prefix is the tests' own: Wine's menu builder, which would write
# launchers into the real home folder, is off. Fonts are installed into its
# Fonts folder as on Windows: Wine's own faces (Tahoma and its kin) for the
# windows, Liberation Sans, Arial's metrics, for the printed page, DejaVu
# for the rest.
setup_wine() {
  export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    say "a private Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  wineserver -w
  fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -u /usr/share/wine/fonts/*.ttf /usr/share/fonts/truetype/dejavu/*.ttf \
    /usr/share/fonts/truetype/liberation/*.ttf "$fonts/"
}

# wine_run [NAME=VALUE...] PROGRAM [ARGUMENTS...]
# Runs a program of build-windows/ under Wine, from that folder, each
# argument passed as one. Wine keeps the QT_* variables of the Unix side from
# Windows programs and hands WINEQT_* on as QT_*, so Qt's settings go under
# that name. Qt's offscreen platform, which the test programs use, reads
# fonts from one folder and on Windows is told which: the system's.
wine_run() {
  local settings=(WINEQT_QPA_PLATFORM=offscreen 'WINEQT_QPA_FONTDIR=C:\windows\Fonts')
  while [[ $# -gt 0 && $1 == *=* ]]; do
    if [[ $1 == QT_* ]]; then settings+=("WINE$1"); else settings+=("$1"); fi
    shift
  done
  (cd "$build" && env "${settings[@]}" wine "$@")
}

run_gtest() {
  local name=$1 log="$logs/$1.txt"
  if wine_run "$name.exe" --gtest_brief=1 >"$log" 2>&1; then pass "$name"; else fail "$name"; tail -20 "$log"; fi
}

# QtTest reports to the debugger under Windows unless told to write a file.
# qttest_run [NAME=VALUE...] NAME LOG [ARGUMENTS...]
qttest_run() {
  local settings=()
  while [[ $1 == *=* ]]; do settings+=("$1"); shift; done
  local name=$1 log=$2
  shift 2
  rm -f "$logs/$log.txt"
  wine_run "${settings[@]}" "$name.exe" -o "test-logs\\$log.txt,txt" "$@" >/dev/null 2>&1
}

# What a Qt Test log says went wrong.
qttest_failures() {
  if [[ -f $logs/$1.txt ]]; then grep -E '^(FAIL|QFATAL|QWARN|SKIP)|Totals' "$logs/$1.txt" | head -20 || true; fi
}

# The variables after the name are those ctest sets for the test on Linux.
run_qttest() {
  local name=$1
  shift
  if qttest_run "$@" "$name" "$name"; then pass "$name"; else fail "$name"; qttest_failures "$name"; fi
}

# File > Print in the Windows program, through Wine's spooler, which hands
# its jobs to CUPS: here a private scheduler with a PDF queue, reached
# through CUPS_SERVER (not a QT_* variable, so Wine passes it on).
print_through_spooler() {
  local name=print_windows_spooler
  if ! sh "$here/scripts/cups-test-env.sh" start "$logs/cups-env.sh" >"$logs/cups-start.txt" 2>&1; then
    fail "$name: private CUPS scheduler"
    cat "$logs/cups-start.txt"
    return
  fi
  if with_scheduler qttest_run "$name" "$name"; then
    pass "$name"
  else
    fail "$name"
    qttest_failures "$name"
  fi
  # A queue that rejects jobs: the job is refused at its end, and reported.
  if with_scheduler rejecting qttest_run TERRALUME_CUPS_REJECTING=1 "$name" "$name-refused" refusedJobIsReported; then
    pass "$name: refused job reported"
  else
    fail "$name: refused job reported"
    qttest_failures "$name-refused"
  fi
  sh "$here/scripts/cups-test-env.sh" stop "$logs/cups-env.sh" || true
}

# Runs a command in the private scheduler's environment, with the folder its
# PDF queue writes to named as Windows names it.
with_scheduler() (
  # shellcheck source=/dev/null # written by cups-test-env.sh start
  . "$logs/cups-env.sh"
  TERRALUME_CUPS_OUT=$(winepath -w "$TERRALUME_CUPS_OUT")
  export TERRALUME_CUPS_OUT
  "$@"
)
rejecting() { cupsreject "$TERRALUME_CUPS_QUEUE" && "$@"; }

# The renderer makes the same bytes here as on Linux: the height grid and
# the picture (with its recorded settings) for a set of worlds. Only this
# script has both builds at hand, so the comparison stays here.
compare_renderers() {
  local linux_build="${TERRALUME_LINUX_BUILD:-$here/build-check}"
  local linux_render="$linux_build/tools/terralume-render"
  if [[ ! -x $linux_render ]]; then
    cmake -S "$here" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$linux_build" --target terralume-render >/dev/null
  fi
  local out="$logs/render"
  rm -rf "$out"
  mkdir -p "$out"
  local cases=("Small 42861244 0 0" "Small 1 -40 -40" "Small 99999999 40 40" "Medium 314159 12 -25"
               "Medium abc 0 0" "Large 7 -10 30")
  local c size seed water heat name args
  for c in "${cases[@]}"; do
    read -r size seed water heat <<<"$c"
    name="$size-$seed-$water-$heat"
    args=(--size "$size" --seed "$seed" --water "$water" --heat "$heat")
    "$linux_render" "${args[@]}" --png "$out/$name.linux.png" --heights "$out/$name.linux.pgm" \
      2>"$out/$name.linux.err" || true
    wine_run terralume-render.exe "${args[@]}" --png "test-logs\\render\\$name.win.png" \
      --heights "test-logs\\render\\$name.win.pgm" >/dev/null 2>"$out/$name.win.err" || true
    if [[ -s $out/$name.linux.err || -s $out/$name.win.err ]]; then
      # A seed the settings window refuses must be refused alike.
      if cmp -s <(tr -d '\r' <"$out/$name.win.err") "$out/$name.linux.err" && [[ ! -e $out/$name.win.png ]]; then
        pass "renderer refuses alike: $name"
      else
        fail "renderer refuses alike: $name"
      fi
    elif cmp -s "$out/$name.linux.png" "$out/$name.win.png" && cmp -s "$out/$name.linux.pgm" "$out/$name.win.pgm"; then
      pass "renderer PNG and PGM byte-identical: $name"
    else
      fail "renderer PNG and PGM byte-identical: $name"
    fi
  done
}

# The renderer's page as a user gets it: no variable says where fonts are,
# yet the PDF carries its title and footer in an embedded face found in the
# system's Fonts folder.
render_pdf_fonts() {
  local name="renderer PDF text with the system's fonts" pdf="$logs/render/fonts.pdf" fonts text
  mkdir -p "$logs/render"
  rm -f "$pdf"
  (cd "$build" && wine terralume-render.exe --title "Seven Seas" --pdf 'test-logs\render\fonts.pdf') \
    >/dev/null 2>"$logs/render/fonts.err"
  fonts=$(pdffonts "$pdf" 2>&1 | tail -n +3)
  text=$(pdftotext "$pdf" - 2>/dev/null)
  if [[ -n $fonts ]] && ! awk '$(NF-4) != "yes" {bad=1} END {exit !bad}' <<<"$fonts" &&
    grep -q "Terralume - Seven Seas" <<<"$text" && grep -q "Printed by Terralume" <<<"$text"; then
    pass "$name"
  else
    fail "$name"
    printf '%s\n%s\n' "$fonts" "$text" | head -8
  fi
}

# Installed silently into a prefix of its own, the program started from the
# Start-menu folder's target shows its window, and the uninstall leaves
# nothing (packaging/windows/check-installer.sh).
check_installer() {
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  if "$here/packaging/windows/check-installer.sh" "$build/terralume-$version-setup.exe"; then
    pass "installer: install, start, uninstall"
  else
    fail "installer: install, start, uninstall"
  fi
}

say "tests under Wine"
start_display
setup_wine
mkdir -p "$logs"

# The build lists its test programs: windows-gtests.txt one name a line,
# windows-qttests.txt a name and the variables it runs with (no blanks in
# them), both written by cmake/TerralumeTesting.cmake.
while read -r t; do run_gtest "$t"; done <"$build/windows-gtests.txt"
while read -r -a line; do
  if ((${#line[@]})) && [[ ${line[0]} != print_windows_spooler ]]; then run_qttest "${line[@]}"; fi
done <"$build/windows-qttests.txt"
if grep -q '^print_windows_spooler\b' "$build/windows-qttests.txt"; then print_through_spooler; fi
compare_renderers
render_pdf_fonts
wineserver -k || true
check_installer
summary "wine tests"
[[ $failed -eq 0 ]]
