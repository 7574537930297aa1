#!/usr/bin/env bash
# Run by run-under-xvfb.sh while the window is up: waits until the program records from
# the sound server, plays ZEL_RECORDING into it and waits until the log and the location
# strip have changed, then rests the mouse on the first line of the log until its tool
# tip shows. Leaves before.png, after.png and tooltip.png in ZEL_SHOTS.
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"
window=$ZEL_WINDOW_ID
shots=$ZEL_SHOTS
pid=$(xdotool getwindowpid "$window")

# Through the sound server's own protocol, under the program's name.
recording() {
  pactl list source-outputs | awk -v RS='Source Output #' -v pid="application.process.id = \"$pid\"" \
    'index($0, pid) && index($0, "application.name = \"ZEL Text Receiver\"") { found = 1 }
     END { exit !found }'
}
wait_until "the program's stream at the sound server" recording
wait_until "the window to be painted" painted_shot "$window" "$shots/before.png"

paplay --device=zel_null "$ZEL_RECORDING"

# Pixels of the region that differ between the window before playing and now.
changed() {
  local region=$1 pixels
  import -window "$window" "$shots/after.png" 2>/dev/null || return 1
  pixels=$(compare -metric AE -extract "$region" "$shots/before.png" "$shots/after.png" null: 2>&1) || true
  [[ $pixels =~ ^[0-9]+$ ]] && [ "$pixels" -gt 0 ]
}
wait_until "the location strip to change" changed 496x25+0+0
wait_until "the log to change" changed 479x220+17+25

# The mouse resting on the log's first line shows that message's report: a window of its
# own, saved as tooltip.png.
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
shown=$(windows)
xdotool mousemove --window "$window" 100 36
tool_tip() { [ "$(windows)" -gt "$shown" ]; }
wait_until "the tool tip of a log line" tool_tip
tip=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$window" | tail -n1)
import -window "$tip" "$shots/tooltip.png" 2>/dev/null || true
