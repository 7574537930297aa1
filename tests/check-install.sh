#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that a desktop finds everything:
# the programs, the menu entry (with its action for weak signals) and the icon it names,
# and the service unit.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for program in ZELTextReceiver zel-decode zel-encode zel-listen; do
    [ -x "$prefix/bin/$program" ] || { echo "missing program: $program"; exit 1; }
done
entry=$prefix/share/applications/zeltextreceiver.desktop
[ -f "$entry" ] || { echo "missing desktop entry"; exit 1; }
desktop-file-validate "$entry"
grep -qx 'Exec=ZELTextReceiver' "$entry" || { echo "desktop entry runs something else"; exit 1; }
grep -qx 'Exec=ZELTextReceiver --demodulator matched' "$entry" ||
    { echo "desktop entry has no action for weak signals"; exit 1; }
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "missing icon: $icon"; exit 1; }
unit=$prefix/lib/systemd/user/zel-listen.service
grep -qx "ExecStart=$prefix/bin/zel-listen --store %S/zel-listen/messages.db \$ZEL_LISTEN_OPTIONS" "$unit" &&
    grep -qx 'StateDirectory=zel-listen' "$unit" &&
    grep -qx 'Restart=on-failure' "$unit" && grep -qx 'RestartPreventExitStatus=2' "$unit" || { echo "missing or wrong service unit"; exit 1; }
echo "installed: programs, desktop entry, icon and service unit"
