#!/usr/bin/env bash
# Sets up the machine, builds Vintrelle and runs it. When no bridge answers (Ableton is not
# running), the bundled bridge simulator stands in for it.
#
# With a display: Vintrelle starts with its status item, on your own library, until you quit it.
# Without one: a demo in a virtual display (Xvfb, openbox, trayer) and a throwaway home, so your
# own library and settings are never touched. It opens the running Vintrelle, saves a screenshot,
# files a plug-in found through the simulator and loads it through the running instance, then
# shuts everything down.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
vintrelle=$root/build/bin/vintrelle

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# Starts the simulator unless a bridge answers; exports VINTRELLE_BRIDGE_CONFIG when it does.
bridge_or_simulator() {
  if "$vintrelle" --command '{"op":"connection"}' | grep -q '"connected":true'; then
    echo "Ableton's bridge answers."
    return
  fi
  local folder=$1
  export VINTRELLE_BRIDGE_CONFIG="$folder/config.json"
  python3 tools/bridge-simulator/vintrelle-bridge-simulator.py --config "$VINTRELLE_BRIDGE_CONFIG" \
    --port 0 --load-log "$folder/loads.jsonl" > "$folder/ready" 2>"$folder/simulator.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$folder/ready" ] && break; sleep 0.1; done
  echo "No bridge answered; the bridge simulator stands in for Ableton ($(cat "$folder/ready"))."
}

if [ "${1:-}" = "--demo-inside-virtual-display" ]; then
  demo=$(mktemp -d /tmp/vintrelle-demo.XXXXXX)
  export HOME="$demo/home" XDG_DATA_HOME="$demo/data" XDG_CONFIG_HOME="$demo/config" XDG_RUNTIME_DIR="$demo/runtime"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  unset WINEPREFIX VINTRELLE_BRIDGE_CONFIG
  mkdir -p "$demo/bridge"
  bridge_or_simulator "$demo/bridge"

  "$vintrelle" 2>"$demo/vintrelle.log" &
  app=$!
  pids=("$app" "${pids[@]}")
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/vintrelle/vintrelle.socket" ] && break; sleep 0.1; done
  [ -S "$XDG_RUNTIME_DIR/vintrelle/vintrelle.socket" ] || { echo "Vintrelle did not start:"; cat "$demo/vintrelle.log"; exit 1; }
  echo "Vintrelle runs (pid $app) with its status item in the tray."

  show() { echo "\$ vintrelle --command '$1'"; "$vintrelle" --command "$1" || true; }
  show '{"op":"connection"}'
  # File the first "reverb" the bridge finds into the fifth starter category.
  filed=$("$vintrelle" --command '{"op":"search","query":"reverb"}' | python3 -c '
import json, sys
items = json.load(sys.stdin).get("result", {}).get("items", [])
print(json.dumps({"op": "addPlugin", "categoryID": "starter-4", "entry": items[0]}) if items else "")')
  if [ -z "$filed" ]; then echo "The search found nothing to file."; exit 1; fi
  show "$filed"
  entry=$(python3 -c '
import json, os, sys
uri = json.loads(sys.argv[1])["entry"]["uri"]
library = json.load(open(os.path.join(os.environ["XDG_DATA_HOME"], "Vintrelle", "native-library.json")))
print(next(e["id"] for c in library["categories"] for e in c["entries"] if e["uri"] == uri))' "$filed")

  # The launch opened the quick menu at the pointer; close it, point elsewhere and ask again.
  xdotool key Escape
  sleep 0.5
  echo "\$ vintrelle   (asks the running instance to open the quick menu at the pointer)"
  xdotool mousemove 160 120
  "$vintrelle"
  sleep 1
  # Walk into the category that holds the filed plug-in, as a user would with the keyboard.
  xdotool key Down Down Down Down Down Down Right
  sleep 1
  mkdir -p "$root/build/run"
  screenshot="$root/build/run/vintrelle-screenshot.png"
  import -window root "$screenshot"
  echo "Screenshot: $screenshot"
  xdotool key Escape Escape
  show "{\"op\":\"load\",\"id\":\"$entry\"}"
  [ -f "$demo/bridge/loads.jsonl" ] && echo "The simulator loaded: $(cat "$demo/bridge/loads.jsonl")"
  show '{"op":"history"}'
  kill "$app"; wait "$app" 2>/dev/null || true
  rm -rf "$demo"
  echo "Vintrelle and the demo home are gone; the screenshot stays."
  exit 0
fi

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vintrelle vintrelle_resources

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running the demo in a virtual one."
  exec tests/x11/with-x11-session.sh bash "$0" --demo-inside-virtual-display
fi

simulator_dir=$(mktemp -d)
bridge_or_simulator "$simulator_dir"
echo "Starting Vintrelle; it lives in the status area. Quit it from its menu."
"$vintrelle"
rm -rf "$simulator_dir"
