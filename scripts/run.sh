#!/usr/bin/env bash
# Installs what is missing, builds the release build (the program and the
# benchmarks, no tests) and runs the program's main job. Until the wizard
# exists that is the program without a display: it is started, runs its
# loop, is stopped with SIGTERM, and its log is shown.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run

cmake --preset release
cmake --build --preset release -j "$(nproc)"

prog=build/release/tlzarnconnectsetup
logdir=$(mktemp -d /tmp/tlzarnconnectsetup-run.XXXXXX)
log="$logdir/tlzarnconnectsetup.log"

echo "== Starting $prog (log in $logdir)"
"$prog" "-LogDir=$logdir" "$@" &
pid=$!

# The stand-in window is shown just before the loop runs.
for _ in $(seq 300); do
  if ! kill -0 "$pid" 2>/dev/null || grep -q "HeadlessWindow: show" "$log" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "== Stopping it with SIGTERM"
  kill -TERM "$pid"
fi
status=0
wait "$pid" || status=$?

echo "== Its log ($log)"
cat "$log" 2>/dev/null || echo "(no log file: the program ended before its loop started)"
echo "== Exit status $status"
echo
echo "Built the program and the benchmarks in build/release."
echo "Next: 'bash scripts/test.sh' builds and runs every test; 'bash scripts/bench.sh' runs the benchmarks."
exit "$status"
