#!/usr/bin/env bash
# The program a user downloads needs only the C library and the desktop's X
# client libraries; everything else is linked in.
# Usage: program_libs_test.sh <program>
set -euo pipefail
prog=$1

# What the program may name itself: the C library (libdl, libpthread and
# librt are files of their own before glibc 2.34), libX11 and libXext (the
# MIT-SHM extension).
own='linux-vdso|ld-linux-.*|libc|libm|libdl|libpthread|librt|libX11|libXext'
# What those X libraries bring: libxcb (Xlib's transport), libXau and
# libXdmcp (libxcb's authorisation), libbsd and libmd (Debian's libXdmcp).
x='libxcb|libXau|libXdmcp|libbsd|libmd'

# The names (file names without ".so" and version) that are not allowed.
refused() { sed 's|.*/||; s|\.so.*||' | grep -Ev "^($1)$" || true; }

needed=$(readelf -d "$prog" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
libs=$(ldd "$prog")
bad=$({ refused "$own" <<<"$needed"; awk '{print $1}' <<<"$libs" | refused "$own|$x"; } | sort -u)
if [ -n "$needed" ] && [ -z "$bad" ]; then
  exit 0
fi
echo "not allowed:" $bad
echo "$libs"
exit 1
