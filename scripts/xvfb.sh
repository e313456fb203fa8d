# Sourced by the scripts that need an X server: starts Xvfb on a free display
# number (Xvfb picks it) and exports DISPLAY; the server ends with the script.
start_xvfb() {
  local fifo dpy
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$fifo" 2>/dev/null &
  XVFB_PID=$!
  if ! read -r -t 20 dpy <"$fifo"; then
    rm -f "$fifo"
    echo "Xvfb did not start" >&2
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$dpy"
  trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
}
