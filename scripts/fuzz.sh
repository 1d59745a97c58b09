#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and fuzzes one of them by
# hand. Usage: fuzz.sh <target> [libFuzzer options...]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh fuzz
cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"
[ $# -ge 1 ] || { ls build/fuzz/fuzz; exit 0; }
t=$1; shift
mkdir -p "build/fuzz/corpus-$t"
exec "build/fuzz/fuzz/fuzz_$t" "build/fuzz/corpus-$t" "fuzz/corpus/$t" "$@"
