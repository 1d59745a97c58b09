#!/usr/bin/env bash
# Runs install-deps.sh's decisions for each set against fake dpkg-query,
# locale, localedef, apt-get, id and sudo on PATH: nothing is installed.
# Each fake records its call in a log, which is compared with the expected
# calls.
set -euo pipefail
script="$(cd "$(dirname "$0")/.." && pwd)/install-deps.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir "$fake/bin"

fake_tool() { # name body
  printf '#!/bin/bash\n%s\n' "$2" >"$fake/bin/$1"
  chmod +x "$fake/bin/$1"
}
record='echo "$(basename "$0") $*" >>"$FAKE_LOG"'
# Installed unless named in FAKE_MISSING ("*": nothing is).
fake_tool dpkg-query 'p=${!#}
case " $FAKE_MISSING " in *" $p "*|" * ") echo "unknown ok not-installed"; exit 1;; esac
echo "install ok installed"'
fake_tool locale 'printf "%s\n" C C.utf8 POSIX $FAKE_LOCALES'
fake_tool id 'echo "$FAKE_UID"'
fake_tool sudo "$record"'; "$@"'
fake_tool localedef "$record"
fake_tool apt-get "$record"
# Another node on PATH must not stand in for Debian's /usr/bin/node.
fake_tool node 'exit 0'

failures=0
# check NAME SET UID MISSING LOCALES EXPECTED-STATUS EXPECTED-LOG-LINES...
check() {
  local name=$1 set=$2 uid=$3 missing=$4 locales=$5 status=$6
  shift 6
  local log="$fake/log" got=0
  : >"$log"
  FAKE_LOG=$log FAKE_UID=$uid FAKE_MISSING=$missing FAKE_LOCALES=$locales \
    PATH="$fake/bin:/usr/bin:/bin" bash "$script" "$set" >/dev/null 2>"$fake/err" || got=$?
  local expected=""
  [ $# -gt 0 ] && expected=$(printf '%s\n' "$@")
  if [ "$got" != "$status" ] || [ "$(cat "$log")" != "$expected" ]; then
    echo "FAIL $name: status $got (expected $status)"
    echo "  calls:"; sed 's/^/    /' "$log"
    echo "  expected:"; printf '    %s\n' "$@"
    sed 's/^/  stderr: /' "$fake/err"
    failures=$((failures + 1))
  fi
}

apt="apt-get install -y --no-install-recommends"
core="cmake ninja-build g++ pkg-config libmbedtls-dev zlib1g-dev libpng-dev python3 libx11-dev libxext-dev"
peers="libgtest-dev libgmock-dev libbenchmark-dev rapidjson-dev nlohmann-json3-dev libre2-dev libexpat1-dev libxml2-dev libpixman-1-dev libxkbcommon-dev libx11-data openssl libmsgpack-dev"
gen() { echo "localedef -i $1 -f UTF-8 $1.UTF-8"; }

# Every package present, locales missing: the locale branch alone.
check "test, locales missing, root" test 0 "" "" 0 "$(gen de_DE)" "$(gen de_AT)" "$(gen ja_JP)"
check "test, one locale missing, user" test 1000 "" "de_DE.utf8 ja_JP.UTF-8" 0 \
  "sudo localedef -i de_AT -f UTF-8 de_AT.UTF-8" "$(gen de_AT)"
check "test, all present" test 0 "" "de_DE.utf8 de_AT.utf8 ja_JP.utf8" 0
check "test, nodejs missing beside another node" test 0 "nodejs" \
  "de_DE.utf8 de_AT.utf8 ja_JP.utf8" 0 "apt-get update" "$apt nodejs"
check "test, user, packages missing" test 1000 "squid gzip" "de_DE.utf8 de_AT.utf8 ja_JP.utf8" 0 \
  "sudo apt-get update" "apt-get update" "sudo $apt gzip squid" "$apt gzip squid"
check "bench, nothing installed" bench 0 "*" "" 0 \
  "apt-get update" "$apt $core $peers microsocks tinyproxy ca-certificates nginx-light curl xvfb openbox"
check "run, nothing installed" run 0 "*" "" 0 "apt-get update" "$apt $core $peers xvfb openbox x11-apps python3-pil xdg-utils desktop-file-utils xdotool x11-utils"
check "run, all present" run 1000 "" "" 0
check "fuzz, clang missing" fuzz 0 "clang" "" 0 "apt-get update" "$apt clang"
check "fuzz, nothing installed" fuzz 0 "*" "" 0 "apt-get update" \
  "$apt $core clang libclang-rt-14-dev libpixman-1-dev"
check "release, nothing installed" release 0 "*" "" 0 "apt-get update" \
  "$apt cmake ninja-build python3 openssl debootstrap python3-pil xvfb openbox x11-apps"
check "unknown set" nope 0 "" "" 2

[ "$failures" -eq 0 ] && echo "install-deps.sh: all decisions as expected"
exit "$failures"
