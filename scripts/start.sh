#!/usr/bin/env bash
# Sets up and builds Terralume if needed, then starts it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh" "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
exec "$here/build/app/terralume" "$@"
