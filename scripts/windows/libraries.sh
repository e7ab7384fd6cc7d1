#!/usr/bin/env bash
# The libraries Terralume needs on Windows: Qt, libjpeg-turbo and GoogleTest,
# built with the MinGW-w64 cross compilers.
#
# Qt for Windows is not packaged in Debian, so Debian's own source packages of
# qt6-base and libjpeg-turbo are built, once, into
#   ${TERRALUME_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/terralume}/mingw-<qt>-<jpeg>
# and reused for as long as Debian's versions and the compiler stay the same
# (the folder's .complete file records them, written only when all is built).
#
# Usage: scripts/windows/libraries.sh [build|prefix]   (default: build)
#   build   build the libraries unless they are up to date
#   prefix  print the folder of the built libraries; fails if not built
set -euo pipefail
# shellcheck source=scripts/windows/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
patches="$here/scripts/windows/patches"

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
  read -r uri suite < <(archive_of_system) || true
  [[ -n ${uri:-} && -n ${suite:-} ]] || die "cannot tell which Debian archive this machine uses"
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  printf 'deb-src %s %s main\n' "$uri" "$suite" >"$dir/sources.list"
  apt_private=(-o "Dir::Etc::SourceList=$dir/sources.list" -o Dir::Etc::SourceParts=-
               -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o APT::Sandbox::User=root)
  if [[ -z $(find "$dir/lists" -name '*Sources*' -mtime -7 2>/dev/null) ]]; then
    apt-get "${apt_private[@]}" update -qq >&2
  fi
}

source_version() { apt-cache "${apt_private[@]}" showsrc "$1" | awk '/^Version:/ {print $2; exit}'; }
# 1:2.1.5-2 -> 2.1.5, 6.4.2+dfsg-10 -> 6.4.2
upstream_of() { sed -E 's/^[0-9]+://; s/-[^-]*$//; s/\+.*$//' <<<"$1"; }

# Sets the versions, the libraries' folder and the text its .complete holds.
qt_version="" jpeg_version="" prefix="" stamp_text=""
find_prefix() {
  setup_private_apt
  qt_version=$(source_version qt6-base)
  jpeg_version=$(source_version libjpeg-turbo)
  [[ -n $qt_version && -n $jpeg_version ]] || die "Debian's sources of qt6-base and libjpeg-turbo are not listed"
  prefix="$cache/mingw-$(upstream_of "$qt_version")-$(upstream_of "$jpeg_version")"
  stamp_text="qt6-base $qt_version, libjpeg-turbo $jpeg_version, $("$triple-g++-posix" -dumpfullversion)"
}

up_to_date() { [[ -f $prefix/.complete && $(cat "$prefix/.complete") == "$stamp_text" ]]; }

# Unpacks Debian's source package into $cache/src once; prints its folder.
fetch_source() {
  local package=$1 version=$2 upstream
  upstream=$(sed -E 's/^[0-9]+://; s/-[^-]*$//' <<<"$version")
  local folder="$cache/src/$package-$upstream"
  if [[ ! -f $folder/.fetched-$version ]]; then
    rm -rf "$folder"
    mkdir -p "$cache/src"
    (cd "$cache/src" && apt-get "${apt_private[@]}" source -qq "$package=$version" >&2) ||
      die "Debian's source of $package $version could not be fetched"
    touch "$folder/.fetched-$version"
  fi
  echo "$folder"
}

# Applies one of patches/ to a source folder, once. A patch that no longer
# fits the source as Debian ships it stops the build, before any file is
# changed: a fix silently left out would only show as a broken Qt later.
apply_patch() {
  local source=$1 patch_file=$2
  local options=(-d "$source" -p1 --fuzz=0 --force --no-backup-if-mismatch)
  if patch "${options[@]}" --reverse --dry-run <"$patch_file" >/dev/null 2>&1; then
    return 0 # applied by an earlier run
  fi
  local trial
  if ! trial=$(patch "${options[@]}" --forward --dry-run <"$patch_file" 2>&1); then
    printf '%s\n' "$trial" >&2
    die "$(basename "$patch_file") no longer applies to $source: bring it up to date with Debian's source"
  fi
  patch "${options[@]}" --forward --silent <"$patch_file"
}

cross_cmake() {
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
}

build_libraries() {
  find_prefix
  if up_to_date; then
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
  apply_patch "$qt_src" "$patches/qt6-base-dynamicgl-needs-opengl.patch"

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
    local features=(
      -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_xml=OFF
      -DFEATURE_tabletevent=OFF
      -DFEATURE_concurrent=OFF -DFEATURE_openssl=OFF -DFEATURE_zstd=OFF -DFEATURE_pkg_config=OFF
      -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
      -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF
    )
    cross_cmake -S "$qt_src" -B "$cache/build/qtbase" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF "${features[@]}" >"$cache/qt-configure.log" 2>&1
  fi
  cmake --build "$cache/build/qtbase" >"$cache/qt-build.log" 2>&1
  cmake --install "$cache/build/qtbase" >"$cache/qt-install.log" 2>&1
  echo "$stamp_text" >"$prefix/.complete"
  say "Windows libraries built in $((SECONDS - started)) s"
}

case "${1:-build}" in
  build) build_libraries ;;
  prefix)
    find_prefix
    up_to_date || die "the Windows libraries are not built in $prefix: run scripts/windows.sh libs"
    echo "$prefix"
    ;;
  *) die "usage: scripts/windows/libraries.sh [build|prefix]" ;;
esac
