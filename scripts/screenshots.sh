#!/usr/bin/env bash
# Takes the screenshots in docs/ from the real program: a virtual display, a throwaway home with a
# small realistic library, the bridge simulator standing in for Ableton, and the windows opened
# the way a user opens them (keys and clicks through xdotool).
#   bash scripts/screenshots.sh [OUTPUT_FOLDER]      (default: docs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
vintrelle=$root/build/bin/vintrelle
output=$(realpath -m "${1:-docs}")

if [ -z "${VINTRELLE_IN_X11_SESSION:-}" ]; then
  cmake --build build -j2 --target vintrelle vintrelle_resources >/dev/null
  VINTRELLE_IN_X11_SESSION=1 exec tests/x11/with-x11-session.sh bash "$0" "$output"
fi

work=$(mktemp -d /tmp/vintrelle-shots.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$output" && chmod 700 "$XDG_RUNTIME_DIR"
unset WINEPREFIX

convert -size 1280x800 gradient:'#52606d'-'#1f2933' "$work/backdrop.png"
display -window root "$work/backdrop.png" &
pids+=($!)

export VINTRELLE_BRIDGE_CONFIG="$work/bridge/config.json"
mkdir -p "$work/bridge"
python3 tools/bridge-simulator/vintrelle-bridge-simulator.py --config "$VINTRELLE_BRIDGE_CONFIG" --port 0 \
  >"$work/bridge/ready" 2>"$work/bridge/simulator.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/bridge/ready" ] && break; sleep 0.1; done

# The library a user might have after a week: a few categories, one with a sub-category.
python3 - >"$work/seed.jsonl" <<'PY'
import json
def category(ident, name, parent, plugins):
    return {"id": ident, "name": name, "parentId": parent,
            "entries": [{"id": f"{ident}-{n}", "label": label, "path": "Plug-ins/VST3",
                         "uri": "query:Plugins#VST3:" + label.replace(" ", "%20")}
                        for n, label in enumerate(plugins)]}
library = {"format": "Vintrelle Library", "version": 1, "categories": [
    category("instruments", "Instruments", None, ["Serum", "Diva", "Pigments", "Kontakt 7"]),
    category("synths", "Analog Synths", "instruments", ["Repro-5", "OB-Xd"]),
    category("drums", "Drums", None, ["Battery 4"]),
    category("mixing", "Mixing", None, ["Pro-Q 3", "Pro-C 2", "Pro-L 2"]),
    category("space", "Reverb & Delay", None, ["Valhalla VintageVerb", "EchoBoy"]),
    category("mastering", "Mastering", None, ["Ozone 11"]),
]}
print(json.dumps({"op": "import", "contents": json.dumps(library), "replace": 1}))
PY

# Crops the screen to the program's visible windows, with a margin of backdrop around them.
shoot() {
  local name=$1 left=99999 top=99999 right=0 bottom=0 margin=20
  sleep 1
  for window in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # Skips the tray icon and other tiny helper windows.
    [ "$WIDTH" -le 40 ] && [ "$HEIGHT" -le 40 ] && continue
    left=$((X < left ? X : left)) top=$((Y < top ? Y : top))
    right=$((X + WIDTH > right ? X + WIDTH : right)) bottom=$((Y + HEIGHT > bottom ? Y + HEIGHT : bottom))
  done
  [ "$right" -gt 0 ] || { echo "screenshots: nothing of Vintrelle is on screen for $name" >&2; exit 1; }
  left=$((left - margin)) top=$((top - margin))
  import -window root -crop $((right - left + margin))x$((bottom - top + margin))+$left+$top +repage "$output/$name.png"
  echo "$output/$name.png"
}

start_vintrelle() {
  "$vintrelle" "$@" 2>>"$work/vintrelle.log" &
  app=$!
  pids=("$app" "${pids[@]}")
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/vintrelle/vintrelle.socket" ] && break; sleep 0.1; done
  sleep 2
}
# Top-left corner of the visible window with this exact title, as X and Y.
window_at() {
  eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name "^$1\$" | head -1)")"
}

# A first start: the welcome window on an empty library.
"$vintrelle" --command '{"op":"reset"}' >/dev/null
xdotool mousemove 160 120
start_vintrelle --welcome
shoot welcome
kill "$app"; wait "$app" 2>/dev/null || true

# Starting opens the quick menu at the pointer.
"$vintrelle" --commands "$work/seed.jsonl" >/dev/null
xdotool mousemove 160 120
start_vintrelle

# The quick menu with Instruments open, the pointer on a plug-in in it.
xdotool mousemove 220 186
sleep 1
xdotool mousemove 360 186 mousemove 370 240
shoot quick-menu
# EDIT is the last row; the editor opens where the menu stood. Open Instruments, select Diva.
xdotool key Escape Escape
sleep 0.5
"$vintrelle"
sleep 1
xdotool key Up Return
sleep 1
window_at "Edit Library"
xdotool mousemove $((X + 80)) $((Y + 100)) click 1
sleep 0.5
xdotool mousemove $((X + 80)) $((Y + 172)) click 1
shoot editor
# "+ Category" asks for the name in the name prompt.
xdotool mousemove $((X + 52)) $((Y + 70)) click 1
sleep 0.5
xdotool type "Percussion"
shoot name-prompt
xdotool key Escape
sleep 0.5

# "+ Plug-in" on REVERB & DELAY searches Ableton's browser (the simulator) for that category.
xdotool mousemove $((X + 80)) $((Y + 292)) click 1
sleep 0.5
xdotool mousemove $((X + 260)) $((Y + 70)) click 1
sleep 1
xdotool type "reverb"
xdotool key Return
sleep 1
window_at "Add Plug-in"
xdotool mousemove $((X + 100)) $((Y + 300)) click 1
shoot search
xdotool key Escape
sleep 0.5
xdotool key Escape

# SETTINGS is the row above EDIT. Each pane after the answer to its main button.
sleep 1
"$vintrelle"
sleep 1
xdotool key Up Up Return
sleep 1
window_at "Connection"
xdotool mousemove $((X + 427)) $((Y + 262)) click 1
shoot settings-connection
xdotool mousemove $((X + 260)) $((Y + 52)) click 1
shoot settings-preferences
xdotool mousemove $((X + 348)) $((Y + 52)) click 1
shoot settings-library
