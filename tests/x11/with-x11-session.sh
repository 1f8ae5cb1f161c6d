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

# Xvfb picks a free display and writes its number to the descriptor we hand it.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 -u "$display_fd" number || { echo "with-x11-session: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

if [ "$wm" = 1 ]; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
fi
if [ "$tray" = 1 ]; then
  trayer --edge top --align right --widthtype request --height 24 --SetDockType true --transparent false >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xdotool search --classname trayer >/dev/null 2>&1 && break; sleep 0.1; done
fi

"$@" &
command_pid=$!
wait "$command_pid"
status=$?
exit "$status"
