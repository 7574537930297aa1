#!/usr/bin/env bash
# The whole program on a private display through a sound server restart, on a server of
# its own: it receives, the server is killed (one error box comes up and stays up), the
# server starts again (the program records again with the box still open), the box is
# answered, and what is sent after the restart appears in the window. SIGTERM then ends
# the program with exit code 0, nothing printed and its stream gone from the server.
# With "stall", the server is stopped (SIGSTOP) and continued instead of killed and
# started: the same is expected.
#
# Usage: restart-under-xvfb.sh PROGRAM ENCODER WORK-DIR [restart|stall]
set -euo pipefail

here=$(dirname "$(realpath "$0")")
program=$1
encoder=$2
work=$3
pulse=$here/../alsa/private-pulse.sh

mkdir -p "$work"
"$encoder" --preamble 600 -o "$work/before.wav" "SMS>BEFORE THE RESTART"
"$encoder" --preamble 600 -o "$work/after.wav" "LOC>AFTER THE RESTART"
bash "$pulse" start "$work/pulse"
trap 'bash "$pulse" stop "$work/pulse"' EXIT
eval "$(bash "$pulse" env "$work/pulse")"

ZEL_LOSS=${4:-restart} ZEL_PULSE_DIR=$work/pulse ZEL_SHOTS=$work ZEL_CLOSE_WINDOW=$here/terminate-window.sh \
  "$here/../gui/run-under-xvfb.sh" "$program" "$work/run" "$here/while-restarting.sh"

streams=$(pactl list source-outputs short)
[ -z "$streams" ] || {
  echo "FAILED: sound input still open after the program ended: $streams" >&2
  exit 1
}
echo "passed: one error box, received after the restart, SIGTERM gave exit code 0"
