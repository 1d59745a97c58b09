#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test, then replays every fuzz
# target's seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test

jobs=$(nproc)
cmake --preset test
cmake --build --preset test -j "$jobs"
bash scripts/sudo-test-dropin.sh
ctest --preset test -LE fuzz -j "$jobs"
ctest --preset test -L fuzz -j "$jobs"
