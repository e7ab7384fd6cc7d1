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

# The installer packs the programs and the runtime deployed beside them.
build_installer() {
  local version installer
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  installer="$build/terralume-$version-setup.exe"
  say "installer $installer"
  makensis -V2 -DSOURCE_DIR="$build" -DVERSION="$version" -DOUTFILE="$installer" \
    -DICON="$here/assets/terralume.ico" "$here/packaging/windows/terralume.nsi"
}

say "Terralume for Windows in $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTERRALUME_MINGW_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DTERRALUME_WERROR=ON -DTERRALUME_BENCH=OFF \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
cmake --build "$build" -j"$(nproc)"
deploy_runtime
build_installer
