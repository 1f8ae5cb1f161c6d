#!/usr/bin/env bash
# Sets up the machine, builds Vintrelle and runs the whole test suite, then the library tests
# once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# The benchmarks are built, not run, so that they keep up with the code they measure.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINTRELLE_BENCHMARKS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure --timeout 600

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVINTRELLE_SANITIZE=ON -DVINTRELLE_LIBRARY_ONLY=ON
cmake --build build-sanitize -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure --timeout 900
