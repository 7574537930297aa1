#!/usr/bin/env bash
# Run by run-under-xvfb.sh while the window is up: right-clicks the log and chooses
# Demodulator > Matched (weak signals) with the keyboard, as a user may; waits until the
# choice is kept in ZEL_SETTINGS.
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"
window=$ZEL_WINDOW_ID
pid=$(xdotool getwindowpid "$window")

wait_until "the window to be painted" painted_shot "$window" "$ZEL_SHOTS/before-menu.png"
# The menu is a window of its own, next to the main window and its icon's.
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
shown=$(windows)
xdotool mousemove --window "$window" 200 120 click 3
menu_open() { [ "$(windows)" -gt "$shown" ]; }
wait_until "the log's context menu" menu_open
# The last entry is Demodulator; its second entry is Matched.
xdotool key Up Right Down Return
chosen() { grep -qx 'demodulator=matched' "$ZEL_SETTINGS" 2>/dev/null; }
wait_until "the choice to be kept" chosen
