#!/usr/bin/env bash
# Sets up the machine, builds Vintrelle and runs it. The desktop interface is not built yet, so
# this shows the command line and exports the library (a first run creates the starter library).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vintrelle

build/bin/vintrelle --help
echo
echo "\$ vintrelle --command '{\"op\":\"export\"}'"
build/bin/vintrelle --command '{"op":"export"}'
