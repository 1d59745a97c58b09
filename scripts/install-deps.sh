#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing
# when all of them are present. Usage: install-deps.sh [run|test|tsan|bench|fuzz]
set -euo pipefail

what=${1:-test}

# tsan: the tests' packages, then gcc's ThreadSanitizer runtime.
if [ "$what" = tsan ]; then
  bash "$0" test
  status=$(dpkg-query -W -f='${Status}' libtsan2 2>/dev/null || true)
  if [[ "$status" != *"install ok installed"* ]]; then
    s=
    [ "$(id -u)" -eq 0 ] || s=sudo
    $s apt-get update
    $s apt-get install -y --no-install-recommends libtsan2
  fi
  exit 0
fi

# What every build needs.
pkgs=(cmake ninja-build g++ pkg-config libmbedtls-dev zlib1g-dev python3)
# Peers the benchmarks measure against; the test build builds the benchmarks.
bench_pkgs=(libbenchmark-dev rapidjson-dev nlohmann-json3-dev libre2-dev libexpat1-dev libxml2-dev)
case "$what" in
  run|bench) pkgs+=(libgtest-dev libgmock-dev "${bench_pkgs[@]}") ;;
  test)
    pkgs+=(libgtest-dev libgmock-dev "${bench_pkgs[@]}" python3 coreutils procps binutils
           openssl gzip gettext locales libxml2-utils gcc
           microsocks dante-server tinyproxy squid)
    # The regular-expression tests compare with node.
    command -v node >/dev/null 2>&1 || pkgs+=(nodejs)
    ;;
  fuzz) pkgs+=(clang libclang-rt-14-dev) ;;
  *) echo "install-deps.sh: unknown set '$what'" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
echo "Installing: ${missing[*]}"
sudo=
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
fi
sudo_cmd=$sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Locales the localisation tests switch to.
if [ "$what" = test ]; then
  for l in de_DE de_AT ja_JP; do
    if ! locale -a 2>/dev/null | grep -qix "$l.utf-\?8"; then
      echo "Generating locale $l.UTF-8"
      $sudo_cmd localedef -i "$l" -f UTF-8 "$l.UTF-8"
    fi
  done
fi
