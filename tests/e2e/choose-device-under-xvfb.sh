#!/usr/bin/env bash
# The window records the input --device names, on a sound server of the test's own whose
# two sinks are described alike. A name that fits both is refused in one line with
# status 2, before any display is needed. Chosen by its name, one sink's monitor is
# recorded: the log reads what is played into that sink, not what is played into the
# other one first.
#
# Usage: choose-device-under-xvfb.sh PROGRAM ENCODER WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../listen/listen-common.sh"
program=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
own_sound_server start

plug() { pactl load-module module-null-sink sink_name="$1" sink_properties=device.description=Radio-Adapter >/dev/null; }
plug radio
plug spare

# refused NAME LINE: --device NAME ends the program with LINE and status 2, nothing else.
refused() {
  local code=0
  "$program" --device "$1" >"$work/stdout" 2>"$work/stderr" || code=$?
  [ $code -eq 2 ] && [ ! -s "$work/stdout" ] && [ "$(cat "$work/stderr")" = "ZELTextReceiver: $2" ] ||
    fail "--device '$1': status $code, $(cat "$work/stderr")"
}
refused "Monitor of Radio-Adapter" "more than one sound input is named 'Monitor of Radio-Adapter': give one of these names instead: radio.monitor, spare.monitor"

# A long preamble: the sound server loses the first moments of a new playback stream.
for text in ON NOT_ON; do "$encode" --preamble 600 -o "$work/$text.wav" "SMS>$text THE RADIO"; done
ZEL_XVFB_ARGUMENTS="--device radio.monitor" ZEL_RECORDINGS=$work \
  "$here/../gui/run-under-xvfb.sh" "$program" "$work/run" "$here/read-named-input.sh"
echo "passed: an ambiguous name refused; the named input recorded, not the other"
