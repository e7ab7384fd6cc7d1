#!/usr/bin/env bash
# Installs the packages that are missing, builds the two programs where they
# are out of date (and nothing else: the tests are scripts/check.sh's), then
# starts Terralume. The build folder is configured once (or kept as you
# configured it); after that a start with nothing changed goes straight to
# the window.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build"
# shellcheck source=scripts/lib/packages.sh
. "$here/scripts/lib/packages.sh"

install_packages "$here/scripts/debian-packages.txt"
if [[ ! -f $build/build.ninja && ! -f $build/Makefile ]]; then
  echo "Configuring the build in $build"
  mkdir -p "$build"
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTERRALUME_BENCH=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; exit 1; }
  echo "Building terralume and terralume-render (a few minutes the first time)"
fi
cmake --build "$build" --target terralume terralume-render
exec "$build/app/terralume" "$@"
