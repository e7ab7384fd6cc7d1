#!/usr/bin/env bash
# How long a new user waits: a fresh clone's scripts/start.sh, run on a
# terminal under a virtual X display, timed from the command to the settings
# window; then a second start with nothing changed, timed to its end (it
# hands over to the running program). Meaningful only on an idle machine, so
# the load average is printed beside the figures. Needs Xvfb, xdotool and
# script (bsdutils).
#
#   bench/start-time.sh [REPOSITORY]     (default: this one's HEAD)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source_repo="${1:-$here}"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

git clone -q "$source_repo" "$work/clone"
display=
for n in $(seq 120 149); do
  if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=":$n"; break; fi
done
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
started=$(date +%s.%N)
script -qfec "$work/clone/scripts/start.sh" "$work/first.log" >/dev/null 2>&1 &
pids+=($!)
xdotool search --sync --onlyvisible --name '^Terralume$' >/dev/null
shown=$(date +%s.%N)
echo "fresh clone to window: $(bc <<<"$shown - $started") s"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "its first lines:"
sed -e '/^Script started/d' -e 's/\r$//' "$work/first.log" | tr '\r' '\n' | sed 's/\x1b\[K//g' | grep -v '^$' |
  head -6 | sed 's/^/  /'

started=$(date +%s.%N)
script -qfec "$work/clone/scripts/start.sh" "$work/second.log" >/dev/null 2>&1
ended=$(date +%s.%N)
echo "second start: $(bc <<<"$ended - $started") s"
