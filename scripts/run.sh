#!/usr/bin/env bash
# Installs what is missing, builds the release build and runs the program's
# main job.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run

cmake --preset release
cmake --build --preset release -j "$(nproc)"

prog=build/release/tlzarnconnectsetup
if [ -x "$prog" ]; then
  exec "$prog" "$@"
fi
echo "Built the core library, its tests and benchmarks in build/release."
echo "The program's entry (the wizard and its helper and URI modes) is not built yet."
