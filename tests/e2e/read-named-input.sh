#!/usr/bin/env bash
# Run by run-under-xvfb.sh while the window records radio.monitor: plays NOT_ON.wav into
# the sink "spare", then ON.wav into "radio" (both from ZEL_RECORDINGS), and waits until
# the log reads the message of ON.wav alone.
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"
window=$ZEL_WINDOW_ID

recording() { [ -n "$(pactl list short source-outputs)" ]; }
wait_until "the program's stream at the sound server" recording
paplay --device=spare "$ZEL_RECORDINGS/NOT_ON.wav"
paplay --device=radio "$ZEL_RECORDINGS/ON.wav"

# The log's text as a user copies it: all of it selected, read from the X selection.
log_text() {
  xdotool mousemove --window "$window" 200 120 click 1 key ctrl+a
  xclip -o -selection primary 2>/dev/null
}
shows_text() { [ -n "$(log_text)" ]; }
wait_until "a message in the log" shows_text
text=$(log_text)
[ "$text" = "ON THE RADIO" ] || { echo "the log reads: $text" >&2; exit 1; }
