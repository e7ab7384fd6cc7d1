#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (those not yet installed),
# then configures and builds Terralume into the given folder.
# Usage: scripts/setup.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:?build folder}"
shift
# shellcheck source=scripts/lib/packages.sh
. "$here/scripts/lib/packages.sh"

install_packages "$here/scripts/debian-packages.txt" "$here/scripts/debian-test-packages.txt"
cmake -S "$here" -B "$build" -G Ninja "$@"
cmake --build "$build"
