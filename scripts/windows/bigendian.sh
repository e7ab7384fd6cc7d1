#!/usr/bin/env bash
# The core tests on a big-endian machine: built for s390x into build-s390x/
# and run under qemu-user, against GoogleTest built once from Debian's source
# with the s390x cross compiler (kept in the cache folder beside the Windows
# libraries). The same world must come out on a machine that orders its
# bytes the other way round.
#
# Usage: scripts/windows/bigendian.sh
# Ends with the line "s390x tests: P passed, F failed".
set -euo pipefail
# shellcheck source=scripts/windows/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
s390x="$here/build-s390x"
s390x_toolchain="$here/cmake/s390x-linux-gnu.cmake"
gtest="$cache/s390x-googletest-$(dpkg-query -W -f='${Version}' googletest)"
logs="$build/test-logs"
mkdir -p "$logs"

run_tests() {
  if [[ ! -f $gtest/.complete ]]; then
    cmake -S /usr/src/googletest -B "$cache/build/googletest-s390x" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$s390x_toolchain" -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=OFF \
      >"$cache/gtest-s390x-build.log" 2>&1
    cmake --build "$cache/build/googletest-s390x" --target install >>"$cache/gtest-s390x-build.log" 2>&1
    touch "$gtest/.complete"
  fi
  cmake -S "$here" -B "$s390x" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$s390x_toolchain" \
    -DTERRALUME_S390X_PREFIX="$gtest" -DCMAKE_BUILD_TYPE=Release -DTERRALUME_GUI=OFF -DTERRALUME_BENCH=OFF >/dev/null
  cmake --build "$s390x" >/dev/null 2>&1 || { fail "core tests for s390x: build"; return; }
  local t tests
  mapfile -t tests < <(cd "$s390x" && ctest -N | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
  ((${#tests[@]})) || { fail "core tests for s390x: none listed"; return; }
  for t in "${tests[@]}"; do
    if (cd "$s390x" && ctest -R "^$t\$" >"$logs/s390x-$t.txt" 2>&1); then
      pass "$t on s390x (qemu)"
    else
      fail "$t on s390x (qemu)"
    fi
  done
}

run_tests
summary "s390x tests"
[[ $failed -eq 0 ]]
