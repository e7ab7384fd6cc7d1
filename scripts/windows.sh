#!/usr/bin/env bash
# Builds Terralume for 64-bit Windows on Debian and runs its tests under Wine.
#
# Qt for Windows is not packaged in Debian, so Debian's own sources of
# qt6-base and libjpeg-turbo are built once with the MinGW-w64 cross
# compilers and kept outside the tree, in
#   ${TERRALUME_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/terralume}/mingw-<qt>-<jpeg>
# where they are reused for as long as Debian's versions stay the same.
# The products land in build-windows/: terralume-render.exe, the test
# programs, and the Qt libraries they load, ready to run under Wine.
#
# Usage: scripts/windows.sh [all|libs|build|test]   (default: all)
#   libs   install the packages and build the Windows libraries only
#   build  libs, then cross-build Terralume
#   test   run the Windows tests of an existing build-windows/ under Wine
# Ends with the line "windows tests: P passed, F failed" when tests ran.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
what="${1:-all}"
build="$here/build-windows"
cache="${TERRALUME_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/terralume}"
triple=x86_64-w64-mingw32
toolchain="$here/cmake/mingw-w64.cmake"
jobs=$(nproc)

say() { printf '== %s\n' "$*"; }

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

install_packages() {
  local wanted missing=() pkg
  mapfile -t wanted < <(grep -v '^\s*#' "$here/scripts/windows-packages.txt" | sed '/^\s*$/d')
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if ((${#missing[@]})); then
    say "installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# The archive this machine installs from, as "URI SUITE": the first entry of
# the system's own sources, which are only read, never changed.
archive_of_system() {
  local file
  for file in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list.d/*.sources; do
    [[ -r $file ]] || continue
    awk '/^URIs:/ && !uri {uri=$2} /^Suites:/ && !suite {suite=$2}
         /^$/ && uri && suite {exit} END {if (uri && suite) print uri, suite}' "$file"
    return
  done
  awk '$1 == "deb" && $2 !~ /^\[/ {print $2, $3; exit}' /etc/apt/sources.list
}

# apt with a private configuration: its own sources list holding only a
# deb-src line, its own package lists and download cache.
apt_private=()
setup_private_apt() {
  local dir="$cache/apt" uri suite
  read -r uri suite < <(archive_of_system)
  [[ -n ${uri:-} && -n ${suite:-} ]] || { echo "cannot tell which Debian archive this machine uses" >&2; exit 1; }
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  printf 'deb-src %s %s main\n' "$uri" "$suite" >"$dir/sources.list"
  apt_private=(-o "Dir::Etc::SourceList=$dir/sources.list" -o Dir::Etc::SourceParts=-
               -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o APT::Sandbox::User=root)
  if [[ -z $(find "$dir/lists" -name '*Sources*' -mtime -7 2>/dev/null) ]]; then
    apt-get "${apt_private[@]}" update -qq
  fi
}

source_version() { apt-cache "${apt_private[@]}" showsrc "$1" | awk '/^Version:/ {print $2; exit}'; }
# 1:2.1.5-2 -> 2.1.5, 6.4.2+dfsg-10 -> 6.4.2
upstream_of() { sed -E 's/^[0-9]+://; s/-[^-]*$//; s/\+.*$//' <<<"$1"; }

# Unpacks Debian's source package into $cache/src once; prints its folder.
fetch_source() {
  local package=$1 version=$2 upstream
  upstream=$(sed -E 's/^[0-9]+://; s/-[^-]*$//' <<<"$version")
  local folder="$cache/src/$package-$upstream"
  if [[ ! -f $folder/.fetched-$version ]]; then
    rm -rf "$folder"
    mkdir -p "$cache/src"
    (cd "$cache/src" && apt-get "${apt_private[@]}" source -qq "$package=$version" >&2)
    touch "$folder/.fetched-$version"
  fi
  echo "$folder"
}

prefix=""
find_prefix() {
  setup_private_apt
  qt_version=$(source_version qt6-base)
  jpeg_version=$(source_version libjpeg-turbo)
  [[ -n $qt_version && -n $jpeg_version ]] || { echo "Debian's sources of qt6-base and libjpeg-turbo are not listed" >&2; exit 1; }
  prefix="$cache/mingw-$(upstream_of "$qt_version")-$(upstream_of "$jpeg_version")"
  stamp_text="qt6-base $qt_version, libjpeg-turbo $jpeg_version, $(x86_64-w64-mingw32-g++-posix -dumpfullversion)"
}

cross_cmake() { cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"; }

build_libraries() {
  find_prefix
  if [[ -f $prefix/.complete && $(cat "$prefix/.complete") == "$stamp_text" ]]; then
    say "Windows libraries up to date in $prefix"
    return
  fi
  rm -f "$prefix/.complete"
  mkdir -p "$prefix" "$cache/build"
  local jpeg_src qt_src started=$SECONDS
  jpeg_src=$(fetch_source libjpeg-turbo "$jpeg_version")
  qt_src=$(fetch_source qt6-base "$qt_version")

  # Qt 6.4 keeps dynamic OpenGL on when OpenGL is off, and the Windows
  # plugin then asks for an OpenGL context it does not have.
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$qt_src/src/plugins/platforms/windows/qwindowswindow.cpp"

  say "libjpeg-turbo $jpeg_version for Windows"
  cross_cmake -S "$jpeg_src" -B "$cache/build/libjpeg-turbo" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON >"$cache/jpeg-build.log" 2>&1
  cmake --build "$cache/build/libjpeg-turbo" --target install >>"$cache/jpeg-build.log" 2>&1

  say "GoogleTest for Windows"
  cross_cmake -S /usr/src/googletest -B "$cache/build/googletest" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF \
    >"$cache/gtest-build.log" 2>&1
  cmake --build "$cache/build/googletest" --target install >>"$cache/gtest-build.log" 2>&1

  # Only what the program and its tests use: no SQL, D-Bus, OpenGL or XML,
  # and the third-party libraries bundled with Qt rather than looked for on
  # this (Linux) machine. Debian's source leaves out the Wintab header that
  # the Windows plugin's tablet support needs, so tablet events are off.
  say "qt6-base $qt_version for Windows (about 20 minutes on 2 cores; log: $cache/qt-build.log)"
  if [[ ! -f $cache/build/qtbase/CMakeCache.txt ]]; then
    cross_cmake -S "$qt_src" -B "$cache/build/qtbase" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
      -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_xml=OFF \
      -DFEATURE_tabletevent=OFF \
      -DFEATURE_concurrent=OFF -DFEATURE_openssl=OFF -DFEATURE_zstd=OFF -DFEATURE_pkg_config=OFF \
      -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
      -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF >"$cache/qt-configure.log" 2>&1
  fi
  cmake --build "$cache/build/qtbase" >"$cache/qt-build.log" 2>&1
  cmake --install "$cache/build/qtbase" >"$cache/qt-install.log" 2>&1
  echo "$stamp_text" >"$prefix/.complete"
  say "Windows libraries built in $((SECONDS - started)) s"
}

# The DLLs the programs load, next to them: MinGW's runtime, Qt's libraries
# and the platform plugins (windows for the program, offscreen for tests).
deploy_runtime() {
  local gcc_dir dll
  gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
  for dll in libstdc++-6.dll libgcc_s_seh-1.dll; do
    cp -u "$gcc_dir/$dll" "$build/"
  done
  cp -u "/usr/$triple/lib/libwinpthread-1.dll" "$build/"
  for dll in Core Gui Widgets PrintSupport Network Test; do
    cp -u "$prefix/bin/Qt6$dll.dll" "$build/"
  done
  mkdir -p "$build/platforms" "$build/styles" "$build/imageformats"
  cp -u "$prefix/plugins/platforms/qwindows.dll" "$prefix/plugins/platforms/qoffscreen.dll" "$build/platforms/"
  cp -u "$prefix"/plugins/styles/*.dll "$build/styles/"
  cp -u "$prefix"/plugins/imageformats/*.dll "$build/imageformats/" 2>/dev/null || true
}

build_terralume() {
  build_libraries
  say "Terralume for Windows in $build"
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTERRALUME_MINGW_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DTERRALUME_WERROR=ON -DTERRALUME_BENCH=OFF \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  cmake --build "$build" -j"$jobs"
  deploy_runtime
  build_installer
}

project_version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt"; }
installer_file() { echo "$build/terralume-$(project_version)-setup.exe"; }

# The installer packs the programs and the runtime deployed beside them.
build_installer() {
  say "installer $(installer_file)"
  makensis -V2 -DSOURCE_DIR="$build" -DVERSION="$(project_version)" -DOUTFILE="$(installer_file)" \
    -DICON="$here/assets/terralume.ico" "$here/packaging/windows/terralume.nsi"
}

# Installed silently into a prefix of its own, the program started from the
# Start-menu folder's target shows its window, and the uninstall leaves
# nothing (packaging/windows/check-installer.sh).
check_installer() {
  if "$here/packaging/windows/check-installer.sh" "$(installer_file)"; then
    pass "installer: install, start, uninstall"
  else
    fail "installer: install, start, uninstall"
  fi
}

# ---- tests under Wine

passed=0
failed=0
pass() { passed=$((passed + 1)); printf '  ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf '  FAIL  %s\n' "$1"; }

xvfb_pid=""
stop_display() { [[ -z $xvfb_pid ]] || kill "$xvfb_pid" 2>/dev/null || true; }

# Wine's own windows and Qt's test programs need an X server even when Qt
# draws offscreen: without one they wait for ever.
start_display() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local number
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
  trap stop_display EXIT
}

setup_wine() {
  export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    say "a private Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  wineserver -w
}

# Runs a program of build-windows/ under Wine with Qt's settings. Wine drops
# every QT_* variable from the environment it passes on, so they are set
# inside the Windows process; a fresh prefix has no fonts, so Qt reads
# Debian's DejaVu and Liberation faces, gathered in one folder since Qt
# does not look into subfolders.
# Further variables (NAME=VALUE, no blanks) go in wine_env.
wine_env=()
wine_run() {
  local exe=$1
  shift
  local fonts="Z:${build//\//\\}\\fonts" sets="" var
  for var in "${wine_env[@]}"; do sets+="set $var&& "; done
  (cd "$build" && wine cmd /c "set QT_QPA_PLATFORM=offscreen&& set QT_QPA_FONTDIR=$fonts&& $sets$exe $*")
}

run_gtest() {
  local name=$1 log="$build/test-logs/$1.txt"
  if wine_run "$name.exe" --gtest_brief=1 >"$log" 2>&1; then pass "$name"; else fail "$name"; tail -20 "$log"; fi
}

# QtTest reports to the debugger under Windows unless told to write a file.
# The variables after the name are those ctest sets for the test on Linux.
run_qttest() {
  local name=$1 log="$build/test-logs/$1.txt"
  shift
  local wine_env=("$@")
  rm -f "$log"
  if wine_run "$name.exe" -o "test-logs\\$name.txt,txt" >/dev/null 2>&1; then
    pass "$name"
  else
    fail "$name"
    [[ -f $log ]] && grep -E '^(FAIL|QFATAL|QWARN)|Totals' "$log" | head -20
  fi
}

# File > Print in the Windows program, through Wine's spooler, which hands
# its jobs to CUPS: here a private scheduler with a PDF queue, reached
# through CUPS_SERVER (not a QT_* variable, so Wine passes it on).
print_through_spooler() {
  local name=print_windows_spooler log="$build/test-logs/print_windows_spooler.txt"
  local state="$build/test-logs/cups-env.sh"
  if ! sh "$here/scripts/cups-test-env.sh" start "$state" >"$build/test-logs/cups-start.txt" 2>&1; then
    fail "$name: private CUPS scheduler"
    cat "$build/test-logs/cups-start.txt"
    return
  fi
  (
    . "$state"
    export TERRALUME_CUPS_OUT="$(winepath -w "$TERRALUME_CUPS_OUT")"
    wine_run "$name.exe" -o "test-logs\\$name.txt,txt" >/dev/null 2>&1
  ) && pass "$name" || { fail "$name"; [[ -f $log ]] && grep -E '^(FAIL|QFATAL|QWARN)|Totals' "$log" | head -20; }
  # A queue that rejects jobs: the job is refused at its end, and reported.
  log="$build/test-logs/print_windows_spooler-refused.txt"
  (
    . "$state"
    cupsreject "$TERRALUME_CUPS_QUEUE"
    export TERRALUME_CUPS_OUT="$(winepath -w "$TERRALUME_CUPS_OUT")" TERRALUME_CUPS_REJECTING=1
    wine_run "$name.exe" -o "test-logs\\$name-refused.txt,txt" refusedJobIsReported >/dev/null 2>&1
  ) && pass "$name: refused job reported" || {
    fail "$name: refused job reported"
    [[ -f $log ]] && grep -E '^(FAIL|QFATAL|QWARN|SKIP)|Totals' "$log" | head -20
  }
  sh "$here/scripts/cups-test-env.sh" stop "$state" || true
}

# The renderer makes the same bytes here as on Linux: the height grid and
# the picture (with its recorded settings) for a set of worlds.
compare_renderers() {
  local linux_build="${TERRALUME_LINUX_BUILD:-$here/build-check}"
  local linux_render="$linux_build/tools/terralume-render"
  if [[ ! -x $linux_render ]]; then
    cmake -S "$here" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$linux_build" --target terralume-render >/dev/null
  fi
  local out="$build/test-logs/render"
  rm -rf "$out"
  mkdir -p "$out"
  local cases=("Small 42861244 0 0" "Small 1 -40 -40" "Small 99999999 40 40" "Medium 314159 12 -25"
               "Medium abc 0 0" "Large 7 -10 30")
  local c size seed water heat name same=0
  for c in "${cases[@]}"; do
    read -r size seed water heat <<<"$c"
    name="$size-$seed-$water-$heat"
    local args=(--size "$size" --seed "$seed" --water "$water" --heat "$heat")
    "$linux_render" "${args[@]}" --png "$out/$name.linux.png" --heights "$out/$name.linux.pgm" 2>"$out/$name.linux.err" || true
    wine_run terralume-render.exe "${args[*]}" --png "test-logs\\render\\$name.win.png" \
      --heights "test-logs\\render\\$name.win.pgm" >/dev/null 2>"$out/$name.win.err" || true
    if [[ -s $out/$name.linux.err || -s $out/$name.win.err ]]; then
      # A seed the settings window refuses must be refused alike.
      if cmp -s <(tr -d '\r' <"$out/$name.win.err") "$out/$name.linux.err" && [[ ! -e $out/$name.win.png ]]; then
        same=$((same + 1)); pass "renderer refuses alike: $name"
      else
        fail "renderer refuses alike: $name"
      fi
    elif cmp -s "$out/$name.linux.png" "$out/$name.win.png" && cmp -s "$out/$name.linux.pgm" "$out/$name.win.pgm"; then
      same=$((same + 1)); pass "renderer PNG and PGM byte-identical: $name"
    else
      fail "renderer PNG and PGM byte-identical: $name"
    fi
  done
}

# The renderer takes its file names as Unicode: a name beyond the ANSI code
# page reaches the disk as typed.
renderer_unicode_names() {
  local out="$build/test-logs/render" name
  for name in 'café.pgm' '世界.pgm'; do
    rm -f "$out/$name"
    wine_run terralume-render.exe --heights "test-logs\\render\\$name" >/dev/null 2>&1 || true
    if [[ -s $out/$name ]]; then pass "renderer writes '$name'"; else fail "renderer writes '$name'"; fi
  done
}

# The same core tests on a big-endian machine: s390x under qemu-user, against
# GoogleTest built from Debian's source with the s390x cross compiler.
bigendian_core_tests() {
  local gtest="$cache/s390x-googletest-$(dpkg-query -W -f='${Version}' googletest)"
  local s390x="$here/build-s390x"
  if [[ ! -f $gtest/.complete ]]; then
    cmake -S /usr/src/googletest -B "$cache/build/googletest-s390x" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/s390x-linux-gnu.cmake" -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=OFF \
      >"$cache/gtest-s390x-build.log" 2>&1
    cmake --build "$cache/build/googletest-s390x" --target install >>"$cache/gtest-s390x-build.log" 2>&1
    touch "$gtest/.complete"
  fi
  cmake -S "$here" -B "$s390x" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/s390x-linux-gnu.cmake" \
    -DTERRALUME_S390X_PREFIX="$gtest" -DCMAKE_BUILD_TYPE=Release -DTERRALUME_GUI=OFF -DTERRALUME_BENCH=OFF >/dev/null
  cmake --build "$s390x" >/dev/null 2>&1 || { fail "core tests for s390x: build"; return; }
  local t
  while read -r t; do
    if (cd "$s390x" && ctest -R "^$t\$" >"$build/test-logs/s390x-$t.txt" 2>&1); then
      pass "$t on s390x (qemu)"
    else
      fail "$t on s390x (qemu)"
    fi
  done < <(cd "$s390x" && ctest -N | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
}

# Two outputs in one file are refused, and only then: Windows has no inode
# numbers to tell files apart, and its names ignore case.
renderer_file_names() {
  local out="$build/test-logs/names"
  rm -rf "$out"
  mkdir -p "$out"
  local args='--png test-logs\names\a.png --heights test-logs\names\b.pgm'
  if wine_run terralume-render.exe "$args" >/dev/null 2>&1 && wine_run terralume-render.exe "$args" >/dev/null 2>&1; then
    pass "renderer writes over two existing files"
  else
    fail "renderer writes over two existing files"
  fi
  local err
  err=$(wine_run terralume-render.exe '--png test-logs\names\a.png --heights test-logs\names\A.PNG' 2>&1 >/dev/null) || true
  if [[ $err == *"name the same file"* ]]; then
    pass "renderer refuses one file named twice, in other case"
  else
    fail "renderer refuses one file named twice, in other case: $err"
  fi
}

run_tests() {
  [[ -d $build ]] || { echo "no Windows build in $build: run scripts/windows.sh build first" >&2; exit 1; }
  say "tests under Wine"
  start_display
  setup_wine
  mkdir -p "$build/test-logs" "$build/fonts"
  ln -sf /usr/share/fonts/truetype/dejavu/*.ttf /usr/share/fonts/truetype/liberation/*.ttf "$build/fonts/"
  local t
  while read -r t; do run_gtest "$t"; done < <(cd "$build" && cat windows-gtests.txt)
  local env
  while read -r t env; do
    # shellcheck disable=SC2086 # the variables are split on blanks
    [[ $t == print_windows_spooler ]] || run_qttest "$t" $env
  done < <(cd "$build" && cat windows-qttests.txt)
  grep -q '^print_windows_spooler\b' "$build/windows-qttests.txt" && print_through_spooler
  compare_renderers
  renderer_unicode_names
  renderer_file_names
  wineserver -k || true
  check_installer
  bigendian_core_tests
  echo "windows tests: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}

case "$what" in
  libs) install_packages; build_libraries ;;
  build) install_packages; build_terralume ;;
  test) install_packages; find_prefix; run_tests ;;
  all) install_packages; build_terralume; run_tests ;;
  *) echo "usage: scripts/windows.sh [all|libs|build|test]" >&2; exit 2 ;;
esac
