#!/usr/bin/env bash
# zel-listen --device keeps to the named input while the sound server's inputs come and
# go. Named by the full description of a radio interface's monitor (longer than the 31
# bytes --list-devices shows), it receives what is played there; when that input goes,
# one line says so and the other inputs' traffic is not taken for it; when it is back,
# under another device number, one line says so and its messages arrive again.
#
# Usage: listen-follows-named-input.sh ZEL-LISTEN ZEL-ENCODE WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
own_sound_server start # where inputs are plugged and unplugged

plug() { pactl load-module module-null-sink sink_name="$1" sink_properties=device.description="$2"; }
radio=$(plug radio USB-Radio-Interface-Audio-Adapter)
plug spare Spare-Output >/dev/null
for text in ON NOT_ON BACK_ON; do "$encode" --preamble 600 -o "$work/$text.wav" "SMS>$text THE RADIO"; done
recording() { [ -n "$(pactl list short source-outputs)" ]; }

"$listen" --device "Monitor of USB-Radio-Interface-Audio-Adapter" >"$work/stdout" 2>"$work/stderr" &
listener=$!
wait_until "the recording" recording
paplay --device=radio "$work/ON.wav"
wait_until "the first message" at_least "$work/stdout" 1 " SMS ON THE RADIO"

pactl unload-module "$radio"
wait_until "the loss" at_least "$work/stderr" 1 "^zel-listen: .*lost"
paplay --device=zel_null "$work/NOT_ON.wav" && paplay --device=spare "$work/NOT_ON.wav"
plug radio USB-Radio-Interface-Audio-Adapter >/dev/null # now after the spare one
wait_until "the input back" at_least "$work/stderr" 1 "^zel-listen: sound input back"
wait_until "the recording" recording
paplay --device=radio "$work/BACK_ON.wav"
wait_until "the message after the return" at_least "$work/stdout" 1 " SMS BACK_ON THE RADIO"

kill -TERM $listener
[ "$(lines_in "$work/stdout")" -eq 2 ] || fail "stdout: $(cat "$work/stdout")"
[ "$(lines_in "$work/stderr")" -eq 2 ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: kept to the named input as it went and came back"
