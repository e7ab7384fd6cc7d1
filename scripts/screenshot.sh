#!/usr/bin/env bash
# Screenshots of the real program under a virtual X display with a window
# manager: the settings window alone, then the settings window beside the
# map window it opened. Needs Xvfb, openbox, xdotool, xwd (x11-apps) and
# netpbm.
#
#   scripts/screenshot.sh [BUILD_DIR] [OUTPUT_DIR]     (default: build docs)
#
# The program is built first where it is out of date.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
out="${2:-$here/docs}"
program="$build/app/terralume"
[[ -f $build/build.ninja ]] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target terralume >/dev/null
for tool in Xvfb openbox xdotool xwd xwdtopnm pnmcut pnmtopng; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
mkdir -p "$out"

display=
for n in $(seq 90 119); do
  if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=":$n"; break; fi
done
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
pids+=($!)
settings=$(xdotool search --sync --onlyvisible --name '^Terralume$' | head -1)
xdotool windowactivate --sync "$settings"
sleep 1

# The window with its frame, as a PNG: the root picture cut to the frame.
shoot() { # file x y width height
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut "$2" "$3" "$4" "$5" | pnmtopng >"$1"
}
# Outer rectangle of a window, frame included: x y width height.
frame_of() {
  local id=$1 info x y w h left right top bottom
  info=$(xwininfo -id "$id")
  x=$(awk '/Absolute upper-left X/{print $4}' <<<"$info")
  y=$(awk '/Absolute upper-left Y/{print $4}' <<<"$info")
  w=$(awk '/Width:/{print $2}' <<<"$info")
  h=$(awk '/Height:/{print $2}' <<<"$info")
  read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed -E 's/.*= *//; s/,//g')
  left=${left:-0} right=${right:-0} top=${top:-0} bottom=${bottom:-0}
  echo $((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))
}

read -r sx sy sw sh < <(frame_of "$settings")
shoot "$out/settings-window.png" "$sx" "$sy" "$sw" "$sh"

# The map window opens over the top-left corner; the settings window is
# moved aside first so that both can be seen.
xdotool windowmove --sync "$settings" 330 60
xdotool windowactivate --sync "$settings"
# Focus starts on the size list; past the seed, the die and the two sliders
# is the title field.
xdotool key --clearmodifiers Tab Tab Tab Tab Tab
xdotool type --delay 20 'Archipelago'
xdotool key --clearmodifiers Return
map=$(timeout 60 xdotool search --sync --onlyvisible --name '^Terralume - Archipelago' | head -1) ||
  { echo "no map window titled Archipelago: has the settings window's tab order changed?" >&2; exit 1; }
sleep 2

read -r mx my mw mh < <(frame_of "$map")
read -r sx sy sw sh < <(frame_of "$settings")
shoot "$out/map-window.png" "$mx" "$my" "$mw" "$mh"
left=$((mx < sx ? mx : sx)); top=$((my < sy ? my : sy))
right=$((mx + mw > sx + sw ? mx + mw : sx + sw)); bottom=$((my + mh > sy + sh ? my + mh : sy + sh))
shoot "$out/both-windows.png" "$left" "$top" $((right - left)) $((bottom - top))

echo "wrote $out/settings-window.png, $out/map-window.png and $out/both-windows.png"
