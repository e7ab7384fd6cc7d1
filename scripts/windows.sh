#!/usr/bin/env bash
# Builds Terralume for 64-bit Windows on Debian and runs its tests under Wine,
# then the core tests on a big-endian machine. Each step is a script of
# scripts/windows/:
#   libraries.sh  Qt, libjpeg-turbo and GoogleTest for Windows, built once
#                 from Debian's source packages and kept in a cache folder
#   build.sh      Terralume into build-windows/, its DLLs, the installer
#   tests.sh      the tests under Wine
#   bigendian.sh  the core tests for s390x under qemu
#
# Usage: scripts/windows.sh [all|libs|build|test]   (default: all)
#   libs   install the packages and build the Windows libraries only
#   build  libs, then cross-build Terralume
#   test   run the Windows tests of an existing build-windows/ under Wine,
#          and the core tests on s390x
# Ends with the line "windows tests: P passed, F failed" when tests ran,
# counting both.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
steps="$here/scripts/windows"
# shellcheck source=scripts/lib/packages.sh
. "$here/scripts/lib/packages.sh"

passed=0
failed=0
# Runs a test script and adds up the counts of its closing line; a script
# that does not reach that line counts as one failure.
run_counted() {
  local log line
  log=$(mktemp)
  "$@" 2>&1 | tee "$log" || true
  line=$(grep -E '^[a-z0-9 ]+: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || true)
  rm -f "$log"
  if [[ -z $line ]]; then
    echo "$(basename "$1") did not run to the end"
    failed=$((failed + 1))
  else
    passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
  fi
}

run_tests() {
  run_counted "$steps/tests.sh"
  run_counted "$steps/bigendian.sh"
  echo "windows tests: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}

what="${1:-all}"
case "$what" in
  libs | build | test | all) install_packages "$here/scripts/windows-packages.txt" ;;
  *) echo "usage: scripts/windows.sh [all|libs|build|test]" >&2; exit 2 ;;
esac
case "$what" in
  libs) "$steps/libraries.sh" ;;
  build)
    "$steps/libraries.sh"
    "$steps/build.sh"
    ;;
  test) run_tests ;;
  all)
    "$steps/libraries.sh"
    "$steps/build.sh"
    run_tests
    ;;
esac
