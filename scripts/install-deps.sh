#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing
# when all of them are present. Usage: install-deps.sh [run|test|bench|fuzz]
set -euo pipefail

what=${1:-test}

# What every build needs.
pkgs=(cmake ninja-build g++ pkg-config)
case "$what" in
  run|bench) pkgs+=(libbenchmark-dev libgtest-dev libgmock-dev) ;;
  test) pkgs+=(libgtest-dev libgmock-dev libbenchmark-dev python3 coreutils procps) ;;
  fuzz) pkgs+=(clang libclang-rt-14-dev) ;;
  *) echo "install-deps.sh: unknown set '$what'" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
