#!/usr/bin/env bash
# Run by restart-under-xvfb.sh while the window is up (see there). Leaves restarted.png
# in ZEL_SHOTS: the screen with the error box up and the program recording again.
# ZEL_LOSS: "restart" (the server killed and started) or "stall" (stopped and continued).
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"
window=$ZEL_WINDOW_ID
shots=$ZEL_SHOTS
pulse=$(dirname "$0")/../alsa/private-pulse.sh
pid=$(xdotool getwindowpid "$window")

recording() { pactl list source-outputs 2>/dev/null | grep -q "application.process.id = \"$pid\""; }
# A stream that was open before a stall is no sign of recording after it.
stale=
recording_anew() { recording && ! pactl list short source-outputs | cut -f1 | grep -qx "$stale"; }
boxes() { xdotool search --onlyvisible --name '^Zeltextreceiver$' 2>/dev/null || true; }
box_shown() { [ -n "$(boxes)" ]; }
no_box() { [ -z "$(boxes)" ]; }
# Pixels of the region that differ between the window in $1 and now.
changed() {
  local pixels
  import -window "$window" "$shots/now.png" 2>/dev/null || return 1
  pixels=$(compare -metric AE -extract "$2" "$1" "$shots/now.png" null: 2>&1) || true
  [[ $pixels =~ ^[0-9]+$ ]] && [ "$pixels" -gt 0 ]
}

wait_until "the program's stream at the sound server" recording
wait_until "the window to be painted" painted_shot "$window" "$shots/start.png"
paplay --device=zel_null "$shots/before.wav"
wait_until "the log to change" changed "$shots/start.png" 479x220+17+25

server=$(tr -dc 0-9 <"$ZEL_PULSE_DIR/runtime/pid")
if [ "$ZEL_LOSS" = stall ]; then
  stale=$(pactl list short source-outputs | cut -f1)
  kill -STOP "$server"
else
  kill -KILL "$server"
fi
lost=$SECONDS
wait_until "the error box" box_shown
echo "error box within $((SECONDS - lost)) s of the $ZEL_LOSS"
[ $((SECONDS - lost)) -le 5 ] || { echo "the error box came late" >&2; exit 1; }
if [ "$ZEL_LOSS" = stall ]; then kill -CONT "$server"; else bash "$pulse" start "$ZEL_PULSE_DIR"; fi
restarted=$SECONDS
wait_until "the program to record again" recording_anew
echo "recording again within $((SECONDS - restarted)) s of the server's return"
[ $((SECONDS - restarted)) -le 5 ] || { echo "recording again only late" >&2; exit 1; }
[ "$(wc -w <<<"$(boxes)")" -eq 1 ] || { echo "more than one error box" >&2; exit 1; }
import -window root "$shots/restarted.png"
xdotool windowfocus --sync "$(boxes)" key Return
wait_until "the error box to go" no_box

wait_until "the window to be painted" painted_shot "$window" "$shots/restarted-window.png"
paplay --device=zel_null "$shots/after.wav"
wait_until "the location strip to change" changed "$shots/restarted-window.png" 496x25+0+0
no_box || { echo "another error box came up" >&2; exit 1; }
