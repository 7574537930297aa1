#!/usr/bin/env bash
# The whole program on a private display with no sound server at all (ALSA's default
# leads to a server that is not there): one error box comes up before the window, saved
# as SCREENSHOTS/no-device.png; once it is answered the window opens in its initial
# state, and a polite close ends the program with exit code 0 and nothing printed. Run
# again, SIGTERM while that box is up ends it the same way, its window never shown.
#
# Usage: no-device-under-xvfb.sh PROGRAM WORK-DIR SCREENSHOTS
set -euo pipefail

here=$(dirname "$(realpath "$0")")
program=$1
work=$2
screenshots=$3
pulse=$here/../alsa/private-pulse.sh

mkdir -p "$work" "$screenshots"
rm -f "$screenshots/no-device.png"
bash "$pulse" config "$work/no-server"
eval "$(bash "$pulse" env "$work/no-server")"

ZEL_SHOTS=$work ZEL_XVFB_BEFORE_WINDOW=$here/answer-error-box.sh \
  "$here/../gui/run-under-xvfb.sh" "$program" "$work/run" "$here/check-idle-window.sh"
cp "$work/box.png" "$screenshots/no-device.png"
ZEL_XVFB_BEFORE_WINDOW=$here/terminate-error-box.sh ZEL_XVFB_ENDS_BEFORE_WINDOW=1 \
  "$here/../gui/run-under-xvfb.sh" "$program" "$work/terminated"
echo "passed: one error box, then an idle window (screenshot in $screenshots/no-device.png); SIGTERM during the box gave exit code 0"
