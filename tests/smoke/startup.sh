#!/usr/bin/env bash
# End-to-end start of the real program: the simulator listens on a free
# loopback port, the tool starts in a fresh directory whose configuration file
# names it, the pump-address prompt is answered with xdotool, and the main
# window must appear with its title and geometry while the simulator has seen
# the identify request. Both processes are ended by their PIDs.
# Usage: startup.sh SRC_DIR BUILD_DIR   (uses DISPLAY, or starts its own Xvfb)
set -uo pipefail
src=${1:?source dir}
build=${2:?build dir}
sim_bin=$build/zove_sim
tool_bin=$build/vantorix_v3

if [ ! -x "$sim_bin" ]; then
  echo "SKIP: $sim_bin is not built"
  exit 0
fi
if [ ! -x "$tool_bin" ]; then
  echo "FAIL: $tool_bin is not built"
  exit 1
fi
for t in xdotool xwininfo; do
  command -v $t >/dev/null || { echo "FAIL: $t is missing"; exit 1; }
done

work=$(mktemp -d)
sim=""
tool=""
cleanup() {
  [ -n "$tool" ] && kill "$tool" 2>/dev/null && wait "$tool" 2>/dev/null
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  return 0
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  . "$src/scripts/xvfb.sh"
  start_xvfb || { echo "FAIL: no X server"; exit 1; }
  trap cleanup EXIT  # start_xvfb set its own trap
fi

fail() {
  echo "FAIL: $*"
  echo "--- simulator output"; cat "$work/sim.out" 2>/dev/null
  echo "--- tool output"; cat "$work/tool.out" 2>/dev/null
  exit 1
}

# Waits up to $1 tenths of a second for the command in the remaining
# arguments to succeed.
wait_for() {
  local n=$1; shift
  for _ in $(seq "$n"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

"$sim_bin" --tcp-listen 0 --trace "$work/trace.log" >"$work/sim.out" 2>&1 &
sim=$!
sim_port() { sed -n 's/.*listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$work/sim.out" | head -n1; }
has_port() { [ -n "$(sim_port)" ]; }
wait_for 100 has_port || fail "the simulator did not report its port"
port=$(sim_port)
printf 'TCPC_127.0.0.1:%s 4800 8 N 1 38400' "$port" >"$work/vantorix_v3.ini"

(cd "$work" && exec "$tool_bin") >"$work/tool.out" 2>&1 &
tool=$!

# The prompt is the only window shown before the main window.
prompt=""
find_prompt() { prompt=$(xdotool search --onlyvisible --class FLTK 2>/dev/null | head -n1); [ -n "$prompt" ]; }
wait_for 200 find_prompt || fail "the pump-address prompt did not appear"
# Without a window manager keys go to the window under the pointer.
xdotool mousemove --window "$prompt" 20 20 2>/dev/null
xdotool key --window "$prompt" Return 2>/dev/null

title="Vantorix v3 Oct  9 2024"
main=""
find_main() { main=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n1); [ -n "$main" ]; }
wait_for 300 find_main || fail "the main window did not appear"

info=$(xwininfo -id "$main")
value() { echo "$info" | sed -n "s/^ *$1: *\(-\?[0-9]*\).*/\1/p"; }
name=$(xdotool getwindowname "$main")
[ "$name" = "$title" ] || fail "title is '$name'"
x=$(value "Absolute upper-left X"); y=$(value "Absolute upper-left Y")
w=$(value "Width"); h=$(value "Height")
[ "$x $y $w $h" = "273 197 996 615" ] || fail "geometry is ${w}x${h} at $x,$y"

# The start-up identification reached the simulator (it runs before the
# window is shown, so the trace has it by now; allow for file buffering).
wait_for 50 grep -q "identify addr=1" "$work/trace.log" || fail "no identify request in the simulator's trace"

echo "PASS: main window '$title' ${w}x${h} at $x,$y; identify request traced"
exit 0
