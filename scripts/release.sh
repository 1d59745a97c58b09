#!/usr/bin/env bash
# Builds the program a user downloads, build/portable/tlzarnconnectsetup,
# inside a Debian 11 ("bullseye", glibc 2.31) root with that root's gcc 10
# and static libraries, so that it starts on every distribution from glibc
# 2.31 on. Then checks, inside the root, that no symbol needs a GLIBC_
# version above 2.31 and that it needs no library but the C library's and
# X's (tests/program_libs_test.sh).
#
# The root is made once per machine with debootstrap, in
# /var/cache/tlzarnconnectsetup (TL_ROOT_CACHE) under a name made from its
# recipe, and reused. It holds Debian 12's mbedtls 2.28, built there from
# its source package as Debian builds it. The host's CMake drives the
# root's tools (cmake/bullseye-root.cmake), which run inside the root with
# the checkout mounted there at its own path. Root only. The script runs in
# a mount namespace of its own, so no mount outlives it, however it ends;
# a root is renamed into place only once it is whole.
#
# Usage: release.sh [--check REFERENCE]
#   --check: then runs the file in the root, on the root's Xvfb and openbox:
#   "-help" prints the parameters (and exits 1, as the usage printer does);
#   the wizard shows its first page, whose picture must be the one REFERENCE
#   (a program built on this system) draws on the host's Xvfb; SIGTERM ends
#   it with 0; as an unprivileged user, the "-uri" mode hands a URI to the
#   running wizard. The pictures and logs stay in build/portable/check.
set -euo pipefail
# The cache as given, relative to where the script was started, without
# symbolic links: the root's own path is made again inside the root.
[ -z "${TL_ROOT_CACHE:-}" ] || TL_ROOT_CACHE=$(realpath -m -- "$TL_ROOT_CACHE")
cd "$(dirname "$0")/.."
src=$(pwd -P)

reference=
case "${1:-}" in
  "") ;;
  --check) reference=$(realpath -e "${2:?release.sh: --check needs the program to compare with}") ;;
  *) echo "Usage: release.sh [--check REFERENCE]" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "release.sh: the build root is made and entered with debootstrap and chroot: run it as root" >&2
  exit 1
fi
ns=$(readlink /proc/self/ns/mnt)
if [ "${TL_RELEASE_MNTNS:-}" != "$ns" ]; then
  bash scripts/install-deps.sh release
  exec unshare --mount --propagation private \
    bash -c 'TL_RELEASE_MNTNS=$(readlink /proc/self/ns/mnt) exec bash "$0" "$@"' \
    "$src/scripts/release.sh" "$@"
fi

# --- The root's recipe: its name is made from it ------------------------------

suite=bullseye
mirror=http://deb.debian.org/debian
# The program's build; mbedtls' Debian build; the run.
root_pkgs=(g++ libx11-dev libxext-dev zlib1g-dev libpng-dev
           build-essential dpkg-dev debhelper cmake python3
           xvfb openbox xdg-utils x11-apps)
run_user=tlrun

# make_root <folder> <final folder>: the root in <folder>/root, its tools in
# <folder>/bin, for use from <final folder>.
make_root() {
  local r=$1/root
  debootstrap --variant=minbase --include="$(IFS=,; echo "${root_pkgs[*]}")" "$suite" "$r" "$mirror"
  # Debian 12's mbedtls with its security updates (bullseye's 2.16 is long
  # out of support), built and installed as Debian packages.
  printf 'deb-src %s bookworm main\ndeb-src %s-security bookworm-security main\n' "$mirror" "$mirror" \
    >"$r/etc/apt/sources.list.d/mbedtls-source.list"
  mount -t proc proc "$r/proc"
  install -d -o _apt "$r/usr/src/mbedtls"
  chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -ec '
    apt-get update -q
    cd /usr/src/mbedtls
    apt-get source -q mbedtls
    cd mbedtls-*/
    DEB_BUILD_OPTIONS="nocheck nodoc parallel=$0" dpkg-buildpackage -B -uc -us -Pnocheck,nodoc
    dpkg -i $(ls ../*.deb | grep -v -- -dbgsym_)
    apt-get clean' "$(nproc)"
  umount "$r/proc"
  rm -rf "$r/usr/src/mbedtls"
  chroot "$r" useradd --no-create-home --shell /bin/sh "$run_user"
  # Inside the root, the root's path on the host leads back to its "/", so
  # paths CMake finds on the host hold inside.
  mkdir -p "$r$2"
  ln -s / "$r$2/root"
  # gcc, g++, ar and ranlib run inside the root, in the folder they are
  # called from, which must be the same folder there (mounted below).
  mkdir "$1/bin"
  local t
  for t in gcc g++ ar ranlib; do
    cat >"$1/bin/$t" <<EOF
#!/bin/sh
# The Debian 11 root's $t, run inside it; scripts/release.sh mounts the checkout there.
r='$2/root'
d=\$(pwd -P)
if [ "\$(stat -c %d:%i .)" != "\$(stat -c %d:%i "\$r\$d" 2>/dev/null)" ]; then
  echo "$t: \$d is not mounted in \$r: build with scripts/release.sh" >&2
  exit 1
fi
exec chroot "\$r" /usr/bin/env -i PATH=/usr/bin:/bin /bin/sh -c 'cd "\$0" && exec "\$@"' "\$d" /usr/bin/$t "\$@"
EOF
    chmod 755 "$1/bin/$t"
  done
  chroot "$r" dpkg-query -W -f='${Package} ${Version}\n' gcc-10 libc6 libmbedtls-dev >"$1/made"
}

key=$({ declare -f make_root; printf '%s\n' "$suite" "$mirror" "${root_pkgs[@]}" "$run_user"; } |
      sha256sum | cut -c1-12)
cache=${TL_ROOT_CACHE:-/var/cache/tlzarnconnectsetup}
entry=$cache/$suite-$key
r=$entry/root
# CMake's own files are mounted read-only at their path in the root (below);
# /proc there is the kernel's.
f=$(mktemp)
printf 'message("${CMAKE_ROOT}")\n' >"$f"
cmake_root=$(cmake -P "$f" 2>&1)
rm -f "$f"
case "$entry/" in
  /proc/* | "$cmake_root"/*)
    echo "release.sh: TL_ROOT_CACHE=$cache: the root's own path must lead back to its \"/\" inside it," \
         "and /proc and $cmake_root are mounted over their paths there: choose another folder" >&2
    exit 1 ;;
esac

# --- Make the root, or reuse it -----------------------------------------------

mkdir -p "$cache"
exec 9>"$cache/.lock-$key"
flock 9
if [ ! -f "$entry/made" ]; then
  # Whatever an interrupted making left (its mounts went with it).
  for d in "$cache/.making-$key".*; do
    [ -e "$d" ] || continue
    if findmnt -rn -o TARGET | grep -qF "$d/"; then
      echo "release.sh: $d has mounts: not removed" >&2
      exit 1
    fi
    rm -rf --one-file-system "$d"
  done
  tmp=$cache/.making-$key.$$
  mkdir "$tmp"
  start=$SECONDS
  echo "== Making the Debian 11 build root $entry (log: $tmp/make.log)"
  # In the background, so that errexit holds inside make_root.
  make_root "$tmp" "$entry" >"$tmp/make.log" 2>&1 &
  if ! wait $!; then
    tail -n 30 "$tmp/make.log"
    echo "release.sh: making the root failed; see $tmp/make.log" >&2
    exit 1
  fi
  mv -T "$tmp" "$entry"
  echo "== Made the root in $((SECONDS - start)) s"
fi
flock -u 9
echo "== Debian 11 build root $entry:" $(cat "$entry/made")

# --- Build and check ------------------------------------------------------------

pids=()
display=
finish() {
  local p
  for p in "${pids[@]}"; do
    kill -TERM "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  umount -l "$r$src" "$r${cmake_root:-/nothing}" "$r/proc" "$r/tmp" 2>/dev/null || true
}
trap finish EXIT
mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
mount -t proc proc "$r/proc"
mkdir -p "$r$src"
mount --bind "$src" "$r$src"
# CMake's checks compile sources of its own.
mkdir -p "$r$cmake_root"
mount --bind "$cmake_root" "$r$cmake_root"
mount -o remount,bind,ro "$r$cmake_root"
# The root's /tmp hides the link to its "/" made below a cache in /tmp.
if [[ "$entry/" == /tmp/* ]]; then
  mkdir -p "$r$entry"
  ln -s / "$r$entry/root"
fi
if ! chroot "$r" test / -ef "$entry/root"; then
  echo "release.sh: inside the root, $entry/root does not lead back to its \"/\": choose another TL_ROOT_CACHE" >&2
  exit 1
fi

build=build/portable
prog=$src/$build/tlzarnconnectsetup
# A new root is a new compiler: the build starts afresh.
if [ -f $build/CMakeCache.txt ] && ! grep -qxF "TL_BUILD_ROOT:PATH=$entry" $build/CMakeCache.txt; then
  rm -rf $build
fi
# ccache's direct mode would look for the root's headers on the host; its
# temporary files must be where the compiler in the root sees them.
export CCACHE_NODIRECT=1 CCACHE_TEMPDIR=$src/$build/ccache-tmp
cmake --preset portable -DTL_BUILD_ROOT:PATH="$entry"
cmake --build --preset portable -j "$(nproc)"

# Commands run through these with a clean environment: in the root as root,
# on this system as root, and in the root as the unprivileged user.
in_root=(chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root)
on_host=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root)
as_user=(chroot "$r" /usr/bin/setpriv --reuid="$run_user" --regid="$run_user" --init-groups
         /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp/home)

echo "== Its symbol versions and libraries, in the root"
"${in_root[@]}" bash "$src/tests/program_libs_test.sh" "$prog" 2.31
echo "== The downloadable file: $prog"
[ -n "$reference" ] || exit 0

# --- Run it in the root -----------------------------------------------------------

out=$src/$build/check
rm -rf "$out"
mkdir -p "$out"
failed=0
fail() { echo "FAILED: $*"; failed=1; }
title="Tessaly Daziziz Setup"

# start_x <the root's path as the runner sees it> <runner...>: an Xvfb and
# openbox through the runner, as on a desktop: the window manager runs
# before the wizard starts. Sets display.
start_x() {
  local f seen=$1
  shift
  f=$(mktemp "$r/tmp/display.XXXXXX")
  "$@" Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$f" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$f" ] && break; sleep 0.1; done
  display=":$(head -1 "$f")"
  "$@" DISPLAY="$display" openbox --sm-disable --startup "touch $seen${f#"$r"}.wm" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do [ -e "$f.wm" ] && return 0; sleep 0.1; done
  fail "openbox did not start on $display"
}

# shown <pid> <log>: waits until the wizard's window is shown.
shown() {
  for _ in $(seq 300); do
    grep -q "SetupWindow: show" "$2" 2>/dev/null && return 0
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# first_page <name> <program> <log folder> <the folder seen from here> <runner...>:
# starts the wizard with no argument but its log folder, writes a PNG of its
# window, ends it with SIGTERM.
first_page() {
  local name=$1 program=$2 logdir=$3 log=$4/tlzarnconnectsetup.log pid status=0
  shift 4
  "$@" DISPLAY="$display" "$program" -LogDir="$logdir" &
  pid=$!
  if shown "$pid" "$log"; then
    # Once mapped and painted, two dumps in a row are the same.
    local dump=$r/tmp/$name.xwd
    for _ in $(seq 50); do
      sleep 0.2
      "$@" DISPLAY="$display" xwd -silent -name "$title" >"$dump.new" 2>/dev/null || continue
      cmp -s "$dump" "$dump.new" && break
      mv "$dump.new" "$dump"
    done
    /usr/bin/python3 tools/xwd2png.py "$out/$name.png" <"$dump" || fail "$name: no picture of the window"
  else
    fail "$name: the window was not shown"
  fi
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || status=$?
  cp "$log" "$out/$name.log" 2>/dev/null || true
  [ "$status" -eq 0 ] || fail "$name: exit status $status after SIGTERM"
}

echo "== In the root, on its Xvfb and openbox"
start_x "" "${in_root[@]}"
root_display=$display
# The usage printer ends the process with status 1.
status=0
"${in_root[@]}" "$prog" -help >"$out/help.txt" 2>&1 || status=$?
grep -q "Valid parameters are listed below" "$out/help.txt" && [ "$status" -eq 1 ] ||
  fail "-help: exit status $status, $(wc -l <"$out/help.txt") lines"
first_page root "$prog" /tmp/log-root "$r/tmp/log-root" "${in_root[@]}"

echo "== The same page from $reference on this system's Xvfb"
start_x "$r" "${on_host[@]}"
first_page host "$reference" "$out/log-host" "$out/log-host" "${on_host[@]}"
display=$root_display
if [ -f "$out/root.png" ] && [ -f "$out/host.png" ]; then
  /usr/bin/python3 - "$out/root.png" "$out/host.png" <<'EOF' || fail "the pictures differ"
import sys
from PIL import Image, ImageChops
a, b = (Image.open(p).convert("RGB") for p in sys.argv[1:3])
if a.size != b.size:
    sys.exit("sizes differ: %s and %s" % (a.size, b.size))
diff = ImageChops.difference(a, b)
n = sum(1 for p in diff.getdata() if p != (0, 0, 0))
print("%dx%d pixels, %d differ%s" % (a.size + (n, " within %s" % (diff.getbbox(),) if n else "")))
sys.exit(1 if n else 0)
EOF
fi

echo "== As $run_user in the root: a URI handed over by the \"-uri\" mode"
"${in_root[@]}" install -d -o "$run_user" -g "$run_user" /tmp/home
uri="example.daziziz.setup://signin?check=$$"
user_log=$r/tmp/home/log/tlzarnconnectsetup.log
"${as_user[@]}" DISPLAY="$display" "$prog" -LogDir=/tmp/home/log &
pid=$!
if shown "$pid" "$user_log"; then
  "${as_user[@]}" DISPLAY="$display" "$prog" -uri "$uri" || fail "-uri: exit status $?"
  for _ in $(seq 100); do grep -qF "'$uri'" "$user_log" && break; sleep 0.1; done
  grep -F "'$uri'" "$user_log" || fail "the wizard's log does not show the URI"
else
  fail "the wizard of $run_user was not shown"
fi
kill -TERM "$pid" 2>/dev/null || true
status=0
wait "$pid" || status=$?
cp "$user_log" "$out/user.log" 2>/dev/null || true
[ "$status" -eq 0 ] || fail "$run_user's wizard: exit status $status after SIGTERM"

echo "== Pictures and logs: $out"
[ "$failed" -eq 0 ] && echo "== The file runs in the root"
exit "$failed"
