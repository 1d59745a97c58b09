#!/usr/bin/env bash
# The program a user downloads needs only the C library and the desktop's X
# client libraries, found where the system keeps them; everything else is
# linked in. Given a glibc version, no symbol may need a newer one.
# Usage: program_libs_test.sh <program> [<newest GLIBC_ version>]
set -euo pipefail
prog=$1
max=${2:-}

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
# Nor does it look for libraries in a folder of the machine it was built on.
bad+=$(readelf -d "$prog" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/ \1 \2/p')
# GLIBC_ versions sorting after max (GLIBC_PRIVATE too).
newer=
if [ -n "$max" ]; then
  for v in $(readelf -W --version-info "$prog" | grep -o 'GLIBC_[^ )]*' | sort -u); do
    [ "$(printf '%s\n' "${v#GLIBC_}" "$max" | sort -V | tail -n 1)" = "$max" ] || newer+=" $v"
  done
fi
if [ -n "$needed" ] && [ -z "$bad" ] && [ -z "$newer" ]; then
  exit 0
fi
[ -z "$bad" ] || echo "not allowed:" $bad
[ -z "$newer" ] || echo "newer than GLIBC_$max:$newer"
echo "$libs"
exit 1
