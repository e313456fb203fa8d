#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts the controller simulator
# on a free loopback TCP port and the tool connected to it (in build/demo/,
# which holds the configuration file and the Russian catalog ru/). The
# simulator's trace of every request and reply goes to build/demo/simulator.log.
# Extra arguments are passed to the tool (FLTK's window options).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

if [ -z "${DISPLAY:-}" ]; then
  echo "The tool is a desktop program: run the demo in an X session (DISPLAY is not set)." >&2
  exit 1
fi

demo=build/demo
mkdir -p "$demo"
ln -sfn ../ru "$demo/ru"
rm -f "$demo/simulator.out"

build/zove_sim --tcp-listen 0 --trace "$demo/simulator.log" >"$demo/simulator.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$demo/simulator.out" | head -n1)
  [ -n "$port" ] && break
  kill -0 $sim 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "The simulator did not start:" >&2
  cat "$demo/simulator.out" >&2
  exit 1
fi
printf 'TCPC_127.0.0.1:%s 4800 8 N 1 38400' "$port" >"$demo/vantorix_v3.ini"
echo "Simulator listening on 127.0.0.1:$port (trace: $demo/simulator.log)."
echo "At the prompt, answer the pump address 1 (side A) or 2 (side B)."
cd "$demo" && ../vantorix_v3 "$@"
