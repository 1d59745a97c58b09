#!/usr/bin/env bash
# Installs what is missing, builds the program a user downloads
# (scripts/release.sh, in a Debian 11 root; as another user than root, a
# release build for this system instead) and runs its main job: the wizard
# on the display DISPLAY names, or, without one, on an Xvfb of its own with
# openbox (both stopped again by process id). It runs until its window is
# shown, is stopped with SIGTERM, and its log is shown; then a PNG of the
# screen is written for each language.
#
# Then the wizard's whole road against local stand-ins: the road test of
# the test build (it needs that build's hooks, so only the program and that
# test are built there) runs the real wizard as the unprivileged test user,
# on DISPLAY when one was set (so that a person watches it), else on an
# Xvfb with openbox of its own. The automation channel presses what a user
# would press: the package is downloaded from an HTTPS stand-in and
# installed with dpkg through the admin helper reached with "sudo -n", the
# sign-up address goes through the real xdg-open to a recording browser,
# the callback URI through the real xdg-open to the program's "-uri" mode,
# tickets are redeemed at the hosted stand-in, the settings go to the
# control channel's stand-in and the product's stand-in programs are
# launched. Each page's name is printed as it shows and a PNG of every page
# is written into a folder it names. Root only. What the road sets up goes
# again: the sudo rule, the test user (when made here), the product package
# and every stand-in process. Debian packages it needed (sudo, rpm,
# openssl) stay: removing system packages is not this script's business,
# and sudo's removal script refuses when root has no password.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run
# The road goes to the display the caller gave, not to the Xvfb below.
user_display=${DISPLAY:-}

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/release.sh
  prog=build/portable/tlzarnconnectsetup
else
  echo "== Not root: the downloadable file is built by scripts/release.sh as root; a release build for this system instead"
  cmake --preset release
  cmake --build --preset release -j "$(nproc)" --target tlzarnconnectsetup
  prog=build/release/tlzarnconnectsetup
fi
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
  openbox --sm-disable --startup "touch $logdir/wm" >/dev/null 2>&1 &
  wm_pid=$!
  # A wizard started while openbox is still starting may stay unmapped.
  for _ in $(seq 100); do [ -e "$logdir/wm" ] && break; sleep 0.1; done
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
  echo "== The wizard's road needs root: skipped"
else
  echo "== The wizard's whole road against local stand-ins"
  road_pkgs=()
  for p in sudo rpm openssl; do
    s=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$s" == *"install ok installed"* ]] || road_pkgs+=("$p")
  done
  road_user=${TL_TEST_USER:-tlunpriv}
  made_user=
  if ! id "$road_user" >/dev/null 2>&1; then
    useradd --create-home --shell /bin/sh "$road_user"
    made_user=1
  fi
  pipe_dir=/tmp/.zarn-zarnservice
  made_pipe_dir=
  [ -e "$pipe_dir" ] || made_pipe_dir=1
  pictures=$(mktemp -d /tmp/tlzarnconnectsetup-pages.XXXXXX)
  chmod 755 "$pictures"
  let_in=
  cleanup() {
    if [ -n "$let_in" ]; then
      DISPLAY=$user_display xhost "-si:localuser:$road_user" >/dev/null 2>&1 || true
    fi
    bash scripts/sudo-test-dropin.sh --remove || true
    dpkg --purge tlzarnconnect-testfake >/dev/null 2>&1 || true
    if [ -n "$made_pipe_dir" ]; then
      rm -rf "$pipe_dir"
    fi
    if [ -n "$made_user" ] && id "$road_user" >/dev/null 2>&1; then
      userdel -r "$road_user" >/dev/null 2>&1 || true
    fi
  }
  trap cleanup EXIT
  if [ ${#road_pkgs[@]} -gt 0 ]; then
    echo "Installing for the road: ${road_pkgs[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${road_pkgs[@]}"
  fi
  cmake --preset test >/dev/null
  cmake --build --preset test -j "$(nproc)" --target tlzarnconnectsetup tlOrbSetup_WizardRoadTest
  TL_TEST_USER=$road_user bash scripts/sudo-test-dropin.sh
  road_env=(TL_TEST_USER="$road_user" TL_ROAD_PICTURES="$pictures")
  if [ -n "$user_display" ]; then
    # The test user's programs reach the caller's display without its
    # cookie (xhost comes with the desktops that have such a display).
    road_env+=(TL_X_DISPLAY="$user_display")
    if command -v xhost >/dev/null; then
      DISPLAY=$user_display xhost "+si:localuser:$road_user" >/dev/null && let_in=1
    fi
    echo "== On $user_display"
  fi
  # Shown as it goes (each page's name as it shows); kept in road.log.
  set +e
  env "${road_env[@]}" build/test/libs/tlOrbSetup/tests/x11/tlOrbSetup_WizardRoadTest \
    --gtest_filter='WizardRoad.DownloadInstallSignInSettingsLaunch' 2>&1 |
    tee "$pictures/road.log" | grep --line-buffered -v '^\[ *\(RUN\|OK\) *\]'
  road_status=${PIPESTATUS[0]}
  set -e
  if [ "$road_status" -eq 0 ] && grep -q '^\[  SKIPPED \]' "$pictures/road.log"; then
    road_status=1
  fi
  echo "== A picture of every page: $pictures"
  echo "== The road's status $road_status"
fi
echo
echo "The program shown above: $prog"
echo "Next: 'bash scripts/test.sh' builds and runs every test; 'bash scripts/bench.sh' builds and runs the benchmarks."
[ "$status" -eq 0 ] && exit "$road_status"
exit "$status"
