#!/usr/bin/env bash
# The whole program on a private display receives a recording played into the private
# sound server: it records while it runs (its stream is at the server), the window's log
# and location strip change, and a polite close ends it with exit code 0, its stream gone
# and nothing printed. The window after receiving is saved as SCREENSHOTS/receiving.png.
#
# Usage: receive-under-xvfb.sh PROGRAM ENCODER WORK-DIR SCREENSHOTS
#   ENCODER is zel-encode; the private sound server's client environment is set.
set -euo pipefail

here=$(dirname "$(realpath "$0")")
program=$1
encoder=$2
work=$3
screenshots=$4

mkdir -p "$work" "$screenshots"
rm -f "$screenshots/receiving.png"
# A long preamble: the sound server loses the first moments of a new playback stream.
"$encoder" --preamble 600 -o "$work/messages.wav" "SMS>HELLO>>WORLD" "LOC>4807N01134E" "SMS>RECEIVED END TO END"

ZEL_RECORDING=$work/messages.wav ZEL_SHOTS=$work \
  "$here/../gui/run-under-xvfb.sh" "$program" "$work/run" "$here/while-receiving.sh"

streams=$(pactl list source-outputs short)
[ -z "$streams" ] || {
  echo "FAILED: sound input still open after the program ended: $streams" >&2
  exit 1
}
cp "$work/run/main-window.png" "$screenshots/receiving.png"
echo "passed: received while recording; screenshot in $screenshots/receiving.png"
