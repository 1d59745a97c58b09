#!/usr/bin/env bash
# Builds the release build and runs every benchmark; each prints its figures
# and the ratio against the peer it is measured with.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh bench

cmake --preset release
cmake --build --preset release -j "$(nproc)"
for b in build/release/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "$@"
done
