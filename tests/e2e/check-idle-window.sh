#!/usr/bin/env bash
# Run by run-under-xvfb.sh while the window is up after the error box: no second box came,
# and the window shows its initial state: an empty log, an empty level bar and a single
# symbol in the bottom strip.
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"
window=$ZEL_WINDOW_ID
shot=$ZEL_SHOTS/idle.png

[ -z "$(xdotool search --onlyvisible --name '^Zeltextreceiver$' 2>/dev/null)" ] ||
  { echo "a second error box appeared" >&2; exit 1; }
wait_until "the window to be painted" painted_shot "$window" "$shot"

# Colours inside a region (its frame and the log's scroll bar left out).
colours() { convert "$shot" -crop "$1" +repage -format %k info:; }
[ "$(colours 440x200+22+30)" -eq 1 ] || { echo "the log is not empty" >&2; exit 1; }
[ "$(colours 9x212+4+29)" -eq 1 ] || { echo "the level bar is not empty" >&2; exit 1; }
# The width of what the bottom strip draws: one "-", not a trace of 40 symbols.
ink=$(convert "$shot" -crop 488x13+4+248 +repage -trim -format %w info:)
[ "$ink" -lt 20 ] || { echo "the bottom strip shows more than one symbol ($ink pixels wide)" >&2; exit 1; }
