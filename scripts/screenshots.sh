#!/usr/bin/env bash
# Takes a screenshot of each of the five tabs of the main window, connected to
# the simulator, on an X server of its own: build/screenshots/1-main.png ..
# 5-load.png. Usage: scripts/screenshots.sh [BUILD_DIR]   (default build)
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd) || exit 1
out=$build/screenshots
for t in xdotool xwininfo import; do
  command -v $t >/dev/null || { echo "$t is missing (xdotool, x11-utils, imagemagick)" >&2; exit 1; }
done
[ -x "$build/vantorix_v3" ] && [ -x "$build/zove_sim" ] || { echo "build $build first" >&2; exit 1; }

. scripts/xvfb.sh
start_xvfb || exit 1
work=$(mktemp -d)
sim=""; tool=""
cleanup() {
  [ -n "$tool" ] && kill "$tool" 2>/dev/null && wait "$tool" 2>/dev/null
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
  kill "$XVFB_PID" 2>/dev/null
  return 0
}
trap cleanup EXIT
wait_for() { local n=$1; shift; for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done; return 1; }

"$build/zove_sim" --tcp-listen 0 --quiet >"$work/sim.out" 2>&1 &
sim=$!
sim_port() { sed -n 's/.*listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$work/sim.out" | head -n1; }
has_port() { [ -n "$(sim_port)" ]; }
wait_for 100 has_port || { echo "the simulator did not start" >&2; exit 1; }
printf 'TCPC_127.0.0.1:%s 4800 8 N 1 38400' "$(sim_port)" >"$work/vantorix_v3.ini"

(cd "$work" && exec "$build/vantorix_v3") >"$work/tool.out" 2>&1 &
tool=$!
prompt=""
find_prompt() { prompt=$(xdotool search --onlyvisible --class FLTK 2>/dev/null | head -n1); [ -n "$prompt" ]; }
wait_for 200 find_prompt || { echo "no prompt" >&2; exit 1; }
xdotool mousemove --window "$prompt" 20 20 2>/dev/null
xdotool key --window "$prompt" Return 2>/dev/null
main=""
find_main() { main=$(xdotool search --onlyvisible --name '^Vantorix v3' 2>/dev/null | head -n1); [ -n "$main" ]; }
wait_for 300 find_main || { echo "no main window" >&2; exit 1; }

mkdir -p "$out"
# Centres of the five tab headers, relative to the window (the tab bar is at
# y 32, its headers 24 pixels high; widths follow the English labels).
names=(1-main 2-main-settings 3-extra-settings 4-side-and-nozzle-settings 5-load)
xs=(20 85 180 305 405)
for i in 0 1 2 3 4; do
  xdotool mousemove --window "$main" "${xs[$i]}" 44 click 1 2>/dev/null
  # Let the tab change (and any read it starts) finish and redraw.
  xdotool sync 2>/dev/null
  sleep 0.5
  import -window "$main" "$out/${names[$i]}.png"
  echo "$out/${names[$i]}.png"
done
