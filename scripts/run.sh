#!/usr/bin/env bash
# Sets up the machine, builds Vintrelle and runs it. The desktop interface is not built yet, so
# this drives the command line: it checks the connection to Ableton and, when no bridge answers,
# starts the bundled bridge simulator in its place, then searches, files and loads a plug-in.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vintrelle

vintrelle=build/bin/vintrelle
show() { echo "\$ vintrelle --command '$1'"; "$vintrelle" --command "$1" || true; echo; }

if "$vintrelle" --command '{"op":"connection"}' | grep -q '"connected":true'; then
  echo "Ableton's bridge answers."
else
  simulator_dir=$(mktemp -d)
  export VINTRELLE_BRIDGE_CONFIG="$simulator_dir/config.json"
  python3 tools/bridge-simulator/vintrelle-bridge-simulator.py --config "$VINTRELLE_BRIDGE_CONFIG" \
    --port 0 --load-log "$simulator_dir/loads.jsonl" > "$simulator_dir/ready" 2>"$simulator_dir/log" &
  simulator=$!
  trap 'kill $simulator 2>/dev/null; rm -rf "$simulator_dir"' EXIT
  for _ in $(seq 50); do [ -s "$simulator_dir/ready" ] && break; sleep 0.1; done
  echo "No bridge answered; the bridge simulator stands in for Ableton ($(cat "$simulator_dir/ready"))."
fi
echo

"$vintrelle" --help
echo
show '{"op":"connection"}'
show '{"op":"search","query":"reverb"}'
result=$("$vintrelle" --command '{"op":"search","query":"reverb"}' | python3 -c '
import json, sys
items = json.load(sys.stdin).get("result", {}).get("items", [])
print(json.dumps({"op": "addPlugin", "categoryID": "starter-4", "entry": items[0]}) if items else "")')
if [ -n "$result" ]; then
  show "$result"
  entry=$(python3 -c '
import json, os, sys
path = os.path.join(os.environ.get("XDG_DATA_HOME") or os.path.expanduser("~/.local/share"), "Vintrelle", "native-library.json")
for category in json.load(open(path))["categories"]:
    for entry in category["entries"]:
        if entry["uri"] == json.loads(sys.argv[1])["entry"]["uri"]:
            print(entry["id"])
            sys.exit()' "$result")
  show "{\"op\":\"load\",\"id\":\"$entry\"}"
fi
show '{"op":"history"}'
