#!/usr/bin/env bash
# Runs one test case many times in a row under a test preset, stopping at the
# first failure (an abort after the case passed counts as one), to show that
# an intermittent fault is gone.
# Usage: repeat-test.sh <Suite.Case> [count] [test|tsan]
#   e.g. repeat-test.sh TcpConnectorTest.ResolverGoneIsReportedAsFailure 500
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -ge 1 ] || { sed -n '2,6p' "$0"; exit 2; }
name=$1
count=${2:-500}
preset=${3:-test}

bash scripts/install-deps.sh "$preset"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j 4
pattern="^${name//./\\.}\$"
# Listed once, so that a misspelt name fails instead of passing vacuously.
ctest --preset "$preset" -N -R "$pattern" | grep -q "Total Tests: 1" ||
  { echo "no test named $name in preset $preset" >&2; exit 2; }
ctest --preset "$preset" -R "$pattern" --repeat "until-fail:$count"
echo "$name: $count runs without a failure"
