#!/usr/bin/env bash
# With every package of deps.txt installed, install-deps must succeed without
# calling apt-get: a fake apt-get that fails (and leaves a mark) is put first in PATH.
set -euo pipefail
top=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
for tool in apt-get apt sudo; do
  cat > "$fake/$tool" <<FAKE
#!/bin/sh
echo "$tool called: \$*" >> "$fake/called"
exit 100
FAKE
  chmod +x "$fake/$tool"
done
out=$(PATH="$fake:$PATH" bash "$top/scripts/install-deps" 2>&1) || { echo "install-deps failed: $out"; exit 1; }
echo "$out"
if [ -e "$fake/called" ]; then
  echo "apt was called:"; cat "$fake/called"; exit 1
fi
echo "$out" | grep -q "nothing to do" || { echo "no 'nothing to do' line"; exit 1; }
# Every name in the list is a real package that dpkg reports (no aliases).
while read -r p; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || { echo "not installed by that name: $p"; exit 1; }
done < <(grep -v -E '^\s*(#|$)' "$top/scripts/deps.txt")
# A missing package makes it say what it installs and, with apt failing, why it stops.
cp "$top/scripts/install-deps" "$fake/install-deps"
{ cat "$top/scripts/deps.txt"; echo "orbalist-no-such-package"; } > "$fake/deps.txt"
set +e
out=$(PATH="$fake:$PATH" bash "$fake/install-deps" 2>&1)
rc=$?
set -e
echo "$out"
[ $rc -ne 0 ] || { echo "a failing apt-get was reported as success"; exit 1; }
echo "$out" | grep -q "not installed: orbalist-no-such-package" || { echo "does not say what it installs"; exit 1; }
echo "$out" | grep -q "stopping: apt-get update failed" || { echo "does not say why it stops"; exit 1; }
echo "install-deps: 1 passed, 0 failed"
