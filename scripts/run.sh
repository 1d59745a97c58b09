#!/usr/bin/env bash
# Installs what is missing, builds the release build (the program and the
# benchmarks, no tests) and runs the program's main job: the wizard on the
# display DISPLAY names, or, without one, on an Xvfb of its own with
# openbox (both stopped again by process id). It runs until its window is
# shown, is stopped with SIGTERM, and its log is shown; then a PNG of the
# screen is written for each language.
#
# Then the engine's road, headless, against local stand-ins: the road test
# of the test build plays the wizard as the unprivileged test user, reaches
# the admin helper through "sudo -n", downloads stand-in product packages
# (.deb, then .rpm) from an HTTPS stand-in, installs them with dpkg and rpm,
# starts the service, redeems tickets at the authentication stand-in, joins,
# sends the server's settings to the control channel's stand-in and
# launches. The road needs the test build's hooks, so it is built there
# (only the road test and what it needs). Root only. What the road
# installs goes again: the sudo rule, the test user (when made here), the
# product packages and every stand-in process. Debian packages it needed
# (sudo, rpm, openssl) stay: removing system packages is not this script's
# business, and sudo's removal script refuses when root has no password.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run

cmake --preset release
cmake --build --preset release -j "$(nproc)"

prog=build/release/tlzarnconnectsetup
logdir=$(mktemp -d /tmp/tlzarnconnectsetup-run.XXXXXX)
log="$logdir/tlzarnconnectsetup.log"

xvfb_pid=
wm_pid=
stop_x() {
  for p in "$wm_pid" "$xvfb_pid"; do
    if [ -n "$p" ]; then kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; fi
  done
  wm_pid=
  xvfb_pid=
}
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$logdir/display" 2>/dev/null &
  xvfb_pid=$!
  trap stop_x EXIT
  for _ in $(seq 100); do [ -s "$logdir/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$logdir/display")"
  openbox --sm-disable >/dev/null 2>&1 &
  wm_pid=$!
  echo "== On Xvfb $DISPLAY with openbox"
fi

echo "== Starting $prog (log in $logdir)"
"$prog" "-LogDir=$logdir" "$@" &
pid=$!

# The window is shown just before the loop runs.
for _ in $(seq 300); do
  if ! kill -0 "$pid" 2>/dev/null || grep -q "SetupWindow: show" "$log" 2>/dev/null; then
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

# What a user sees: the initial page in each language, as PNGs.
if [ "$status" -eq 0 ] && command -v xwd >/dev/null; then
  for lang in en de es fr pt; do
    "$prog" "-LogDir=$logdir/$lang" "-Locale=$lang" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 300); do
      grep -q "SetupWindow: show" "$logdir/$lang/tlzarnconnectsetup.log" 2>/dev/null && break
      sleep 0.1
    done
    sleep 0.5
    xwd -root -silent | /usr/bin/python3 tools/xwd2png.py "$logdir/wizard-$lang.png" &&
      echo "== The initial page in '$lang': $logdir/wizard-$lang.png"
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" || true
  done
fi
stop_x

road_status=0
if [ "$(id -u)" -ne 0 ]; then
  echo "== The headless road needs root: skipped"
else
  echo "== The headless road against local stand-ins"
  road_pkgs=()
  for p in sudo rpm openssl; do
    s=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$s" == *"install ok installed"* ]] || road_pkgs+=("$p")
  done
  made_user=
  id tlunpriv >/dev/null 2>&1 || made_user=1
  pipe_dir=/tmp/.zarn-zarnservice
  made_pipe_dir=
  [ -e "$pipe_dir" ] || made_pipe_dir=1
  cleanup() {
    bash scripts/sudo-test-dropin.sh --remove || true
    dpkg --purge tlzarnconnect-testfake >/dev/null 2>&1 || true
    command -v rpm >/dev/null && rpm -e tlzarnconnect-testfake >/dev/null 2>&1 || true
    if [ -n "$made_pipe_dir" ]; then
      rm -rf "$pipe_dir"
    fi
    if [ -n "$made_user" ] && id tlunpriv >/dev/null 2>&1; then
      userdel -r tlunpriv >/dev/null 2>&1 || true
    fi
  }
  trap cleanup EXIT
  if [ ${#road_pkgs[@]} -gt 0 ]; then
    echo "Installing for the road: ${road_pkgs[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${road_pkgs[@]}"
  fi
  cmake --preset test >/dev/null
  cmake --build --preset test -j "$(nproc)" --target tlOrbSetup_PkgOrbTest
  bash scripts/sudo-test-dropin.sh
  out=$(build/test/libs/tlOrbSetup/tests/tlOrbSetup_PkgOrbTest \
          --gtest_filter='PkgOrbRoad.*' 2>&1) || road_status=$?
  printf '%s\n' "$out" | grep -v '^\[ *\(RUN\|OK\) *\]' || true
  if [ "$road_status" -eq 0 ] && grep -q '^\[  SKIPPED \]' <<<"$out"; then
    road_status=1
  fi
  echo "== The road's status $road_status"
fi

echo
echo "Built the program and the benchmarks in build/release."
echo "Next: 'bash scripts/test.sh' builds and runs every test; 'bash scripts/bench.sh' runs the benchmarks."
[ "$status" -eq 0 ] && exit "$road_status"
exit "$status"
