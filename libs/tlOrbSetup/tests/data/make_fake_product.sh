#!/bin/sh
# Packs the product's stand-in programs into a .deb (dpkg-deb) and an .rpm
# (rpmbuild) in OUT: the viewer "tlzarnconnect", the server
# "tlzarnserver-x11" and the service control "tlzarnservice", installed in
# /usr/lib/tlzarnconnect. Each appends its name and arguments to RECORD, and
# the content of the file after "-joincloud" or "-signInToken" as
# "token <content>"; when RECORD.kill.<name> exists it then kills the admin
# helper it runs under; it exits with the number in RECORD.status.<name>
# (0 when there is none). With "fail", the package's pre-install script
# exits 3; with "wait:FILE", the .deb's pre-install script prints its line,
# then waits until FILE exists (a minute at most). Otherwise the .deb's
# pre-install script prints its line and then, when RECORD.fail.preinst
# exists, refuses (exits 3); when RECORD.kill.preinst exists, kills the
# helper and exits 3; while RECORD.hold.preinst exists (a minute at most),
# waits, its package tool's pid in RECORD.tool. Usage:
# make_fake_product.sh OUT RECORD [fail | wait:FILE]
set -eu
out=$1 record=$2 fail=${3:-}
name=tlzarnconnect-testfake
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The shell lines every script starts with: the record, and the function
# that kills the admin helper the script runs under (the nearest ancestor
# whose first argument is "-helper"), by its pid.
head="rec='$record'"'
killhelper() {
  p=$PPID
  while [ "${p:-0}" -gt 1 ]; do
    if [ "$(tr "\0" "\n" <"/proc/$p/cmdline" | sed -n 2p)" = -helper ]; then
      kill -9 "$p"
      return
    fi
    p=$(sed -n "s/^PPid:[[:space:]]*//p" "/proc/$p/status")
  done
}'

mkdir -p "$work/root/usr/lib/tlzarnconnect"
for prog in tlzarnconnect tlzarnserver-x11 tlzarnservice; do
  {
    printf '#!/bin/sh\n%s\n' "$head"
    cat <<'SCRIPT'
me=$(basename "$0")
line=$me
for a in "$@"; do line="$line $a"; done
echo "$line" >>"$rec"
prev=
for a in "$@"; do
  case $prev in -joincloud|-signInToken) echo "token $(cat "$a")" >>"$rec" ;; esac
  prev=$a
done
[ ! -e "$rec.kill.$me" ] || killhelper
exit $(cat "$rec.status.$me" 2>/dev/null || echo 0)
SCRIPT
  } >"$work/root/usr/lib/tlzarnconnect/$prog"
  chmod 755 "$work/root/usr/lib/tlzarnconnect/$prog"
done

# The pre-install scripts: shell for dpkg; Lua for rpm, which would
# otherwise require a /bin/sh that no rpm package provides here.
pre="$head
echo 'preparing $name'"'
if [ -e "$rec.fail.preinst" ]; then echo "pre-install refused" >&2; exit 3; fi
if [ -e "$rec.kill.preinst" ]; then killhelper; exit 3; fi
if [ -e "$rec.hold.preinst" ]; then
  echo $PPID >"$rec.tool"
  i=0
  while [ -e "$rec.hold.preinst" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
fi
exit 0'
rpmpre="print('preparing $name')"
case $fail in
fail)
  pre='echo "pre-install refused" >&2; exit 3'
  rpmpre="error('pre-install refused')"
  ;;
wait:*)
  pre="echo 'preparing $name'; i=0; while [ ! -e '${fail#wait:}' ] && [ \$i -lt 600 ]; do sleep 0.1; i=\$((i + 1)); done"
  ;;
esac

# .deb
mkdir -p "$work/root/DEBIAN"
cat >"$work/root/DEBIAN/control" <<CONTROL
Package: $name
Version: 1.0
Architecture: all
Maintainer: Test <test@example.test>
Description: stand-in programs for the setup tests
CONTROL
printf '#!/bin/sh\n%s\n' "$pre" >"$work/root/DEBIAN/preinst"
chmod 755 "$work/root/DEBIAN/preinst"
dpkg-deb --root-owner-group -b "$work/root" "$out/$name.deb" >/dev/null
rm -rf "$work/root/DEBIAN"

# .rpm
mkdir -p "$work/rpm/SPECS"
cat >"$work/rpm/SPECS/$name.spec" <<SPEC
Name: $name
Version: 1.0
Release: 1
Summary: stand-in programs for the setup tests
License: none
BuildArch: noarch
AutoReqProv: no
%description
stand-in programs for the setup tests
%pre -p <lua>
$rpmpre
%install
mkdir -p %{buildroot}/usr/lib
cp -a $work/root/usr/lib/tlzarnconnect %{buildroot}/usr/lib/
%files
/usr/lib/tlzarnconnect
SPEC
rpmbuild --define "_topdir $work/rpm" --define '__os_install_post %{nil}' \
  --define '_build_id_links none' -bb "$work/rpm/SPECS/$name.spec" >/dev/null 2>"$work/rpmbuild.log" ||
  { cat "$work/rpmbuild.log" >&2; exit 1; }
cp "$work"/rpm/RPMS/noarch/*.rpm "$out/$name.rpm"
