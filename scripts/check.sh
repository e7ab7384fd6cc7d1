#!/usr/bin/env bash
# Every test: the normal build with warnings as errors, the whole suite again
# under AddressSanitizer + UndefinedBehaviorSanitizer, the fuzz targets for a
# bounded time, valgrind on the renderer, the Windows build with its tests
# under Wine, and the Debian package. Ends with one summary line.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here" || exit 1
jobs=$(nproc)
passed=0
failed=0
started=$SECONDS

stage() { printf '\n==== %s (%ds)\n' "$*" $((SECONDS - started)); }

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local build=$1
  shift
  local log
  log=$(mktemp)
  (cd "$build" && ctest --output-on-failure -j"$jobs" "$@") 2>&1 | tee "$log"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [[ -z $line ]]; then
    echo "ctest ran no test in $build"
    failed=$((failed + 1))
  else
    local total bad
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  rm -f "$log"
}

# The Windows cross-build and its tests under Wine (and the core tests on
# s390x), counted test by test from the script's summary line.
run_windows() {
  local log line
  log=$(mktemp)
  TERRALUME_LINUX_BUILD="$here/build-check" scripts/windows.sh all 2>&1 | tee "$log"
  line=$(grep -E '^windows tests: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
  if [[ -z $line ]]; then
    echo "the Windows build or its tests did not run to the end"
    failed=$((failed + 1))
  else
    passed=$((passed + $(sed -E 's/^windows tests: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
  fi
  rm -f "$log"
}

# A stage that is a single pass/fail step.
run_step() {
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

stage "build (warnings are errors)"
if scripts/setup.sh build-check -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERRALUME_WERROR=ON; then
  stage "tests"
  run_ctest build-check
else
  echo "build failed"
  failed=$((failed + 1))
fi

stage "build with AddressSanitizer + UndefinedBehaviorSanitizer"
if scripts/setup.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTERRALUME_SANITIZE=ON -DTERRALUME_BENCH=OFF; then
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  stage "tests under sanitizers, leak checking for the core and the renderer"
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 run_ctest build-asan -L '^(core|render)$'
  stage "tests under sanitizers, the rest"
  # Qt's platform plugins and font caches keep allocations until exit.
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=0 run_ctest build-asan -LE '^(core|render)$'
  unset UBSAN_OPTIONS
else
  echo "sanitizer build failed"
  failed=$((failed + 1))
fi

if [[ -x scripts/fuzz.sh ]]; then
  stage "fuzzing"
  run_step scripts/fuzz.sh
fi
if [[ -x scripts/valgrind.sh ]]; then
  stage "valgrind"
  run_step scripts/valgrind.sh build-check
fi

if [[ -x scripts/windows.sh ]]; then
  stage "Windows: cross-build, tests under Wine, core tests on s390x"
  run_windows
fi

# Last: as root it installs the package into /usr for a moment, which no
# other stage may see.
if [[ -x scripts/package.sh ]]; then
  stage "Debian package"
  run_step scripts/package.sh build-check
fi

stage "done"
echo "checks: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
