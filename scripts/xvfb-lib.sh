# Sourced by the commands: starts Xvfb on a free display when there is no $DISPLAY and stops it
# when the command ends.
start_xvfb_if_needed() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local number
  read -r number <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$number"
  trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
  echo "Started Xvfb on $DISPLAY"
}
