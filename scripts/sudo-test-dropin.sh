#!/usr/bin/env bash
# The elevated launch tests start programs of a test build through real sudo
# as the unprivileged test user (tlunpriv, or the one TL_TEST_USER names): allow exactly the launch pipe
# child and the setup program of each build folder named (build/test when
# none is), keeping the profile variables the program's helper mode reads,
# without a password. One rule per checkout: a later call replaces it. With
# --remove, takes the rule away again. Root only; skipped where sudo is
# missing. Usage: sudo-test-dropin.sh [--remove | <build folder>...]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] && [ -d /etc/sudoers.d ] && command -v visudo >/dev/null || exit 0
name="tl-launch-test-$(printf '%s' "$PWD" | sha256sum | cut -c1-12)"
if [ "${1:-}" = --remove ]; then
  rm -f "/etc/sudoers.d/$name"
  exit 0
fi
[ $# -gt 0 ] || set -- build/test
# A checkout path may hold characters that sudoers reads as syntax.
escape() { sed 's/[\\,:= ]/\\&/g' <<<"$1"; }
allowed=
tmp=$(mktemp)
for dir in "$@"; do
  child=$(escape "$PWD/$dir/tlcore/base/os/tests/os_launch_pipe_child")
  program=$(escape "$PWD/$dir/tlzarnconnectsetup")
  printf 'Defaults!%s env_keep += "ZARN_PROFILE ZARN_PROFILE_DIR"\n' "$program" >>"$tmp"
  allowed+="${allowed:+, }$child, $program"
done
printf '%s ALL=(root) NOPASSWD: %s\n' "${TL_TEST_USER:-tlunpriv}" "$allowed" >>"$tmp"
chmod 0440 "$tmp"
if visudo -cqf "$tmp"; then
  mv "$tmp" "/etc/sudoers.d/$name"
else
  echo "sudo-test-dropin.sh: visudo refused the rule" >&2
  rm -f "$tmp"
  exit 1
fi
