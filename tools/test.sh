#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then prints the benchmarks' figures.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh --test

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"

echo "== Tests"
ctest --test-dir build --output-on-failure --label-exclude benchmark --parallel "$jobs"

echo "== Benchmarks (figures only; they do not fail on a slow machine)"
ctest --test-dir build --label-regex benchmark --verbose
