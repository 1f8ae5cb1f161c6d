#!/usr/bin/env bash
# Takes a screenshot for docs/: runs a preview program (which prints its window's geometry) in a
# throwaway X session and crops the root window to that window with a margin.
#   tests/windows/window-screenshot.sh build/bin/name_prompt_preview docs/name-prompt.png
#   tests/windows/window-screenshot.sh build/bin/editor_preview docs/editor.png
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
preview=$(realpath "$1")
output=$(realpath -m "$2")

if [ -z "${VINTRELLE_IN_X11_SESSION:-}" ]; then
  VINTRELLE_IN_X11_SESSION=1 exec "$here/../x11/with-x11-session.sh" --no-tray "$0" "$preview" "$output"
fi

geometry=$(mktemp)
root=$(mktemp --suffix=.png)
trap 'rm -f "$geometry" "$root"' EXIT
"$preview" 5000 >"$geometry" &
pid=$!
for _ in $(seq 50); do [ -s "$geometry" ] && break; sleep 0.1; done
read -r x y w h <"$geometry"
import -window root "$root"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
margin=16
convert "$root" -crop $((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin)) +repage "$output"
