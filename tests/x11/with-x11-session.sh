#!/usr/bin/env bash
# Runs one command inside a throwaway X session: Xvfb on a free display, openbox (stacking and
# activation) and trayer (a system tray host). Everything started here is stopped by its PID.
#   with-x11-session.sh [--no-tray] [--no-wm] COMMAND [ARGS...]
set -uo pipefail

tray=1 wm=1
while [ $# -gt 0 ]; do
  case "$1" in
    --no-tray) tray=0; shift ;;
    --no-wm) wm=0; shift ;;
    *) break ;;
  esac
done

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to the descriptor we hand it. Without
# -noreset the server restarts whenever its last client leaves, refusing whoever comes next.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 -u "$display_fd" number || { echo "with-x11-session: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"
# The number can come before the server takes clients: wait until one gets through.
for _ in $(seq 100); do xprop -root >/dev/null 2>&1 && break; sleep 0.1; done
xprop -root >/dev/null 2>&1 || { echo "with-x11-session: Xvfb on $DISPLAY takes no clients" >&2; exit 1; }
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
# No desktop bus: Qt asks it first for a tray and can block on a bus that does not answer, and
# dbus-launch could start one per display. Everything here must go through X alone.
export DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/vintrelle-test-bus"

# Starts a helper until its own check passes: up to three attempts of 60 s each, the next one
# when the last died. A session without its helper fails loudly with the helper's own output.
start_helper() { # NAME CHECK-COMMAND -- COMMAND...
  local name=$1 check=$2 log attempt pid
  shift 3
  log=$(mktemp)
  for attempt in 1 2 3; do
    "$@" >>"$log" 2>&1 &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 600); do
      if eval "$check" >/dev/null 2>&1; then rm -f "$log"; return 0; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    echo "with-x11-session: $name attempt $attempt did not come up" >&2
  done
  echo "with-x11-session: no $name; it said:" >&2
  cat "$log" >&2
  rm -f "$log"
  exit 1
}

if [ "$wm" = 1 ]; then
  start_helper openbox '[[ $(xprop -root _NET_SUPPORTING_WM_CHECK) == *"window id"* ]]' -- openbox
fi
if [ "$tray" = 1 ]; then
  # On a fresh machine the first GTK program can spend many seconds building font caches.
  start_helper trayer 'xdotool search --classname trayer' -- \
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true --transparent false
fi

"$@" &
command_pid=$!
wait "$command_pid"
status=$?
exit "$status"
