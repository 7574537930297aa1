#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that a desktop finds everything:
# the three programs, the menu entry and the icon it names.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for program in ZELTextReceiver zel-decode zel-encode; do
    [ -x "$prefix/bin/$program" ] || { echo "missing program: $program"; exit 1; }
done
entry=$prefix/share/applications/zeltextreceiver.desktop
[ -f "$entry" ] || { echo "missing desktop entry"; exit 1; }
grep -qx 'Exec=ZELTextReceiver' "$entry" || { echo "desktop entry runs something else"; exit 1; }
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "missing icon: $icon"; exit 1; }
echo "installed: programs, desktop entry and icon"
