# Sourced by the commands: starts Xvfb when there is no $DISPLAY and stops it when the command
# ends. The display number is one that nobody uses: neither a lock file here nor a listening
# socket anywhere in the network namespace (X clients try the abstract socket first, and on a
# shared machine it may belong to a server whose lock file lives in another /tmp).
# The server does not reset when its last client leaves: tests connect one after another, and
# one that connects while the server resets finds no display.
display_number_free() {
  [ ! -e "/tmp/.X$1-lock" ] && ! grep -q "/tmp/.X11-unix/X$1\$" /proc/net/unix 2>/dev/null
}

# Starts Xvfb on a free display: sets STARTED_DISPLAY (":N") and STARTED_XVFB_PID. The screen is
# 1280 by 1024 unless XVFB_SCREEN says otherwise ("2048x1536x24").
start_xvfb() {
  local n=$((200 + $$ % 100)) last=$((200 + $$ % 100 + 60)) fifo number
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  while [ "$n" -lt "$last" ]; do
    if display_number_free "$n"; then
      Xvfb ":$n" -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
      STARTED_XVFB_PID=$!
      number=""
      read -r number <"$fifo" || true
      # Clients try the abstract socket first; make sure ours is the server that answers.
      if [ -n "$number" ] && xdpyinfo -display ":$number" >/dev/null 2>&1; then
        rm -f "$fifo"
        STARTED_DISPLAY=":$number"
        return 0
      fi
      kill "$STARTED_XVFB_PID" 2>/dev/null || true
    fi
    n=$((n + 1))
  done
  rm -f "$fifo"
  echo "Could not start Xvfb" >&2
  return 1
}

start_xvfb_if_needed() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  start_xvfb || return 1
  XVFB_PID=$STARTED_XVFB_PID
  export DISPLAY=$STARTED_DISPLAY
  trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
  echo "Started Xvfb on $DISPLAY"
}
