#!/usr/bin/env bash
# The elevated launch tests start programs of this test build through real
# sudo as the unprivileged test user (tlunpriv): allow exactly the launch
# pipe child and the setup program (keeping the profile variables its
# helper mode reads), without a password. With --remove, takes the rule
# away again. Root only; skipped where sudo is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] && [ -d /etc/sudoers.d ] && command -v visudo >/dev/null || exit 0
name="tl-launch-test-$(printf '%s' "$PWD" | sha256sum | cut -c1-12)"
if [ "${1:-}" = --remove ]; then
  rm -f "/etc/sudoers.d/$name"
  exit 0
fi
child="$PWD/build/test/tlcore/base/os/tests/os_launch_pipe_child"
program="$PWD/build/test/tlzarnconnectsetup"
tmp=$(mktemp)
{
  printf 'Defaults!%s env_keep += "ZARN_PROFILE ZARN_PROFILE_DIR"\n' "$program"
  printf 'tlunpriv ALL=(root) NOPASSWD: %s, %s\n' "$child" "$program"
} > "$tmp"
chmod 0440 "$tmp"
if visudo -cqf "$tmp"; then
  mv "$tmp" "/etc/sudoers.d/$name"
else
  rm -f "$tmp"
fi
