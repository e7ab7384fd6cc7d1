#!/usr/bin/env bash
# Cross-builds Terralume for 64-bit Windows into build-windows/, against the
# libraries of scripts/windows/libraries.sh, copies beside the programs the
# DLLs they load, and makes the installer terralume-<version>-setup.exe.
# build-windows/ then runs as it is, on Windows or under Wine.
#
# Usage: scripts/windows/build.sh
set -euo pipefail
# shellcheck source=scripts/windows/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$("$here/scripts/windows/libraries.sh" prefix)

# The DLLs the programs load, next to them: MinGW's runtime, Qt's libraries
# and the platform plugins (windows for the program, offscreen for tests).
deploy_runtime() {
  local gcc_dir dll
  gcc_dir=$(dirname "$("$triple-g++-posix" -print-libgcc-file-name)")
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

# What the installer ships carries no symbols: a third of the size, and
# nothing a user's crash report could use without our build anyway.
strip_shipped() {
  local file
  for file in "$build"/terralume.exe "$build"/terralume-render.exe "$build"/*.dll "$build"/platforms/*.dll \
    "$build"/styles/*.dll; do
    [[ -f $file ]] && "$triple-strip" --strip-all "$file"
  done
}

# The licences of Terralume and of every library the Windows program ships,
# in licenses/, as Windows programs keep them (CRLF, .txt): Debian's
# copyright files of the very sources the libraries were built from (Qt's
# names the parts it bundles), with the full texts they refer to.
deploy_licences() {
  local dir="$build/licenses"
  mkdir -p "$dir"
  as_text() { sed 's/\r\?$/\r/' "$@"; }
  as_text "$here/LICENSE" >"$dir/LICENSE.txt"
  as_text /usr/share/doc/libqt6core6/copyright >"$dir/Qt.txt"
  as_text /usr/share/common-licenses/LGPL-3 >"$dir/LGPL-3.txt"
  as_text /usr/share/common-licenses/GPL-3 >"$dir/GPL-3.txt"
  as_text /usr/share/doc/libjpeg62-turbo/copyright >"$dir/libjpeg-turbo.txt"
  as_text /usr/share/doc/libz-mingw-w64/copyright >"$dir/zlib.txt"
  as_text /usr/share/doc/gcc-mingw-w64-base/copyright /usr/share/doc/mingw-w64-common/copyright \
    >"$dir/MinGW-runtime.txt"
}

# The installer packs the programs and the runtime deployed beside them.
build_installer() {
  local version installer
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  installer="$build/terralume-$version-setup.exe"
  say "installer $installer"
  makensis -V2 -DSOURCE_DIR="$build" -DVERSION="$version" -DOUTFILE="$installer" \
    -DASSETS="$here/assets" "$here/packaging/windows/terralume.nsi"
}

say "Terralume for Windows in $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTERRALUME_MINGW_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DTERRALUME_WERROR=ON -DTERRALUME_BENCH=OFF \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
cmake --build "$build" -j"$(nproc)"
deploy_runtime
strip_shipped
deploy_licences
build_installer
