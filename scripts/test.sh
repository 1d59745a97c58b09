#!/usr/bin/env bash
# Installs what is missing, then builds and tests five ways:
#  1. with AddressSanitizer and UndefinedBehaviorSanitizer (gcc, preset
#     test): every test, then every fuzz target replays its seed corpus;
#  2. optimised with clang, without sanitizers (preset optimised): every
#     test;
#  3. the program a user downloads, built in a Debian 11 root
#     (scripts/release.sh): its symbol versions and libraries checked, and
#     run there, its first page compared with the optimised build's;
#  4. the libFuzzer build (clang, preset fuzz): every fuzz target replays
#     its seed corpus;
#  5. with ThreadSanitizer (gcc, preset tsan): every test; a report in any
#     process, whether or not its test looks at how it ended, fails the run.
# Each step runs even when an earlier one failed; the run fails when any
# did. With CI=true a test that skips fails it too: a skipped test proves
# nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh tsan

jobs=$(nproc)
failed=()

# step <name> <command...>: runs the command, recording a failure.
step() {
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  if "$@"; then
    echo "=== $name: passed in $((SECONDS - start)) s"
    return 0
  fi
  echo "=== $name: FAILED after $((SECONDS - start)) s"
  failed+=("$name")
  return 1
}

build() { # <preset>
  cmake --preset "$1" && cmake --build --preset "$1" -j "$jobs"
}

# tests <preset> [ctest arguments...]: ctest, with the skipped tests named.
tests() {
  local log="build/ctest-$1.log" status=0
  ctest --preset "$@" -j "$jobs" 2>&1 | tee "$log" || status=$?
  if grep -q '(Skipped)$' "$log"; then
    echo "Skipped:"
    grep '(Skipped)$' "$log"
    [ "${CI:-}" != true ] || status=1
  fi
  return "$status"
}

# The elevated launch tests of both test builds go through real sudo.
bash scripts/sudo-test-dropin.sh build/test build/optimised build/tsan
trap 'bash scripts/sudo-test-dropin.sh --remove' EXIT

if step "sanitizer build" build test; then
  step "sanitizer build: tests" tests test -LE fuzz || :
  step "sanitizer build: fuzz replays" tests test -L fuzz || :
fi
if step "optimised build" build optimised; then
  step "optimised build: tests" tests optimised || :
fi
step "portable build" bash scripts/release.sh --check build/optimised/tlzarnconnectsetup || :
if step "libFuzzer build" build fuzz; then
  step "libFuzzer build: fuzz replays" tests fuzz || :
fi

# Reports go to files, so that one from a process nobody waits for counts.
tsan_reports() {
  local dir=build/tsan/reports status=0
  rm -rf "$dir"
  mkdir -p "$dir"
  TSAN_OPTIONS="log_path=$PWD/$dir/tsan" tests tsan || status=$?
  if [ -n "$(ls -A "$dir")" ]; then
    echo "ThreadSanitizer reports:"
    cat "$dir"/*
    status=1
  fi
  return "$status"
}
if step "ThreadSanitizer build" build tsan; then
  step "ThreadSanitizer build: tests" tsan_reports || :
fi

if [ ${#failed[@]} -gt 0 ]; then
  printf 'Failed: %s\n' "${failed[@]}"
  exit 1
fi
echo "All five builds passed."
