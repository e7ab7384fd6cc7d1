# shellcheck shell=bash disable=SC2034 # the variables are for the scripts that source this
# Sourced, not run: what the Windows scripts share.
#
# The Windows libraries are built once and kept outside the tree, in the
# cache folder below; the Windows build and its test logs are in
# build-windows/ of the source tree.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$here/build-windows"
cache="${TERRALUME_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/terralume}"
triple=x86_64-w64-mingw32
toolchain="$here/cmake/mingw-w64.cmake"

say() { printf '== %s\n' "$*"; }
die() { printf '%s\n' "$*" >&2; exit 1; }

# The tests' tally. A test script ends with summary LABEL, the line that
# scripts/windows.sh adds up: "LABEL: P passed, F failed".
passed=0
failed=0
pass() { passed=$((passed + 1)); printf '  ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf '  FAIL  %s\n' "$1"; }
summary() { echo "$1: $passed passed, $failed failed"; }
