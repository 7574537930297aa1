#!/usr/bin/env bash
# Run by run-under-xvfb.sh before the window appears: waits for the program's error box,
# checks that it is the only one and that the window has not opened yet, saves the
# screen as box.png in ZEL_SHOTS and answers the box with Return.
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"
shots=$ZEL_SHOTS

wait_until "the error box" error_box_shown
box=$(error_boxes)
[ "$(wc -w <<<"$box")" -eq 1 ] || { echo "more than one error box: $box" >&2; exit 1; }
[ -z "$(xdotool search --onlyvisible --name '^ZEL Text Receiver$' 2>/dev/null)" ] ||
  { echo "the window opened before the error was answered" >&2; exit 1; }

wait_until "the error box to be painted" painted_shot "$box" "$shots/box-only.png"
import -window root "$shots/box.png"

xdotool windowfocus --sync "$box" key Return
no_box() { [ -z "$(error_boxes)" ]; }
wait_until "the error box to go" no_box
