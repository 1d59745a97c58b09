#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing
# when all of them are present. Usage: install-deps.sh [run|test|tsan|bench|fuzz|release]
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

# What every build needs (the X layer is built on Xlib and its MIT-SHM
# extension). The -dev packages of mbedtls, zlib and libpng also hold the
# static archives that the release and optimised builds link into the
# program.
pkgs=(cmake ninja-build g++ pkg-config libmbedtls-dev zlib1g-dev libpng-dev python3 libx11-dev libxext-dev)
# Peers the benchmarks measure against; the test build builds the benchmarks.
# pixman's and Xlib's regions are the region code's peers in tests, fuzz targets
# and benchmarks; libxkbcommon and X11's Compose file the keysym code's;
# openssl the public-key code's; msgpack-c the BED encoding's.
bench_pkgs=(libbenchmark-dev rapidjson-dev nlohmann-json3-dev libre2-dev libexpat1-dev libxml2-dev
            libpixman-1-dev libxkbcommon-dev libx11-data openssl libmsgpack-dev)
case "$what" in
  # The wizard runs on an Xvfb of its own with openbox when there is no
  # display; its screen is dumped with xwd and turned into PNGs with PIL. Its
  # whole road uses the real URL opener and desktop tools, finds and
  # activates windows with xdotool and xprop.
  run) pkgs+=(libgtest-dev libgmock-dev "${bench_pkgs[@]}" xvfb openbox x11-apps python3-pil
              xdg-utils desktop-file-utils xdotool x11-utils) ;;
  # The proxy benchmark tunnels through real proxies; the certificate one loads
  # Debian's CA bundle; the HTTP client's downloads from nginx are timed
  # against curl; the image puts go to an Xvfb; start-up is timed on one
  # without and one with openbox.
  bench) pkgs+=(libgtest-dev libgmock-dev "${bench_pkgs[@]}" microsocks tinyproxy ca-certificates
                nginx-light curl xvfb openbox) ;;
  test)
    # The regular-expression tests compare with Debian's /usr/bin/node,
    # whatever other node is on PATH. PIL and the fonts rerun the generator
    # of the interface's fonts and images. The desktop tests use the real URL
    # opener, MIME and desktop-database tools and gio. The setup engine's
    # tests pack and install stand-in product packages with rpmbuild and rpm
    # (dpkg-deb comes with dpkg). The X tests run their own Xvfb, openbox
    # on demand, and read windows and selections back with the X utilities,
    # xdotool and xclip. The optimised and the libFuzzer builds use clang.
    pkgs+=(libgtest-dev libgmock-dev "${bench_pkgs[@]}" python3 coreutils procps binutils
           openssl gzip gettext locales libxml2-utils gcc nodejs
           microsocks dante-server tinyproxy squid python3-cryptography ca-certificates
           sudo python3-pil fonts-liberation2 fonts-dejavu-core
           xdg-utils desktop-file-utils libglib2.0-bin rpm nginx-light
           xvfb openbox xdotool xclip x11-utils x11-apps clang libclang-rt-14-dev)
    ;;
  fuzz) pkgs+=(clang libclang-rt-14-dev libpixman-1-dev) ;;
  # scripts/release.sh: the compilers and libraries come from the Debian 11
  # root it makes with debootstrap; this system runs CMake, the build's
  # generators (python3, openssl) and, to compare pictures, the program
  # built here on an Xvfb with openbox.
  release) pkgs=(cmake ninja-build python3 openssl debootstrap python3-pil xvfb openbox x11-apps) ;;
  *) echo "install-deps.sh: unknown set '$what'" >&2; exit 2 ;;
esac

sudo=
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
fi

# Outputs are read whole before they are matched: with pipefail, a grep -q
# that stops reading early would fail the pipeline through SIGPIPE.
missing=()
for p in "${pkgs[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  if [[ "$status" != *"install ok installed"* ]]; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Locales the localisation tests switch to.
if [ "$what" = test ]; then
  have=$(locale -a 2>/dev/null || true)
  for l in de_DE de_AT ja_JP; do
    if ! grep -qix "$l.utf-\?8" <<<"$have"; then
      echo "Generating locale $l.UTF-8"
      $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8"
    fi
  done
fi
