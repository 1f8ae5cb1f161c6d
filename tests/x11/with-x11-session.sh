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
# No desktop bus: Qt asks it first for a tray and can block on a bus that does not answer, and
# dbus-launch could start one per display. Everything here must go through X alone.
export DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/vintrelle-test-bus"

if [ "$wm" = 1 ]; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
fi
if [ "$tray" = 1 ]; then
  # On a fresh machine the first GTK program can spend many seconds building font caches, and a
  # tray host that died at start is started again; a session without its tray fails loudly.
  tray_log=$(mktemp)
  tray_up=0
  for attempt in 1 2 3; do
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true --transparent false >>"$tray_log" 2>&1 &
    tray_pid=$!
    pids+=("$tray_pid")
    for _ in $(seq 600); do
      if xdotool search --classname trayer >/dev/null 2>&1; then tray_up=1; break; fi
      kill -0 "$tray_pid" 2>/dev/null || break
      sleep 0.1
    done
    [ "$tray_up" = 1 ] && break
    echo "with-x11-session: trayer attempt $attempt did not show its tray" >&2
  done
  if [ "$tray_up" = 0 ]; then
    echo "with-x11-session: no tray host; trayer said:" >&2
    cat "$tray_log" >&2
    rm -f "$tray_log"
    exit 1
  fi
  rm -f "$tray_log"
fi

"$@" &
command_pid=$!
wait "$command_pid"
status=$?
exit "$status"
