#!/usr/bin/env bash
# The elevated launch tests start the launch pipe child through real sudo as
# the unprivileged test user (tlunpriv): allow exactly that program of this
# test build, without a password. Root only; skipped where sudo is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] && [ -d /etc/sudoers.d ] && command -v visudo >/dev/null || exit 0
child="$PWD/build/test/tlcore/base/os/tests/os_launch_pipe_child"
name="tl-launch-test-$(printf '%s' "$PWD" | sha256sum | cut -c1-12)"
tmp=$(mktemp)
printf 'tlunpriv ALL=(root) NOPASSWD: %s\n' "$child" > "$tmp"
chmod 0440 "$tmp"
if visudo -cqf "$tmp"; then
  mv "$tmp" "/etc/sudoers.d/$name"
else
  rm -f "$tmp"
fi
