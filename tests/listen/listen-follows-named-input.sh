#!/usr/bin/env bash
# zel-listen --device keeps to the named input while the sound server's inputs come and
# go. Two sinks' monitors are described alike: --list-devices tells them apart by the
# server's own names, the shared description is refused naming both, and one of them
# chosen by its name is the one recorded (what is played into the other is not taken
# for it). When that input goes, one line says so; when it is back, under another
# device number, one line says so and its messages arrive again. The volume control
# tells the service from the window.
#
# An input named before it is there is waited for.
#
# Usage: listen-follows-named-input.sh ZEL-LISTEN ZEL-ENCODE WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
own_sound_server start # where inputs are plugged and unplugged

plug() { pactl load-module module-null-sink sink_name="$1" sink_properties=device.description=Radio-Adapter; }
plug spare >/dev/null
for text in ON NOT_ON BACK_ON; do "$encode" --preamble 600 -o "$work/$text.wav" "SMS>$text THE RADIO"; done

# The radio's sound card comes up after the service: it is waited for, not refused.
: >"$work/stderr"
"$listen" --device radio.monitor >"$work/stdout" 2>"$work/stderr" &
listener=$!
wait_until "the wait" at_least "$work/stderr" 1 "^zel-listen: no sound input (No sound input named 'radio.monitor' was found.); waiting for one$"
radio=$(plug radio)
wait_until "the input found" at_least "$work/stderr" 1 "^zel-listen: sound input found; listening$"

"$listen" --list-devices >"$work/list"
grep -qx $'radio.monitor\tMonitor of Radio-Adapter' "$work/list" || fail "listed: $(cat "$work/list")"
grep -qx $'spare.monitor\tMonitor of Radio-Adapter' "$work/list" || fail "listed: $(cat "$work/list")"
code=0
"$listen" --device "Monitor of Radio-Adapter" 2>"$work/ambiguous" || code=$?
[ $code -eq 2 ] && grep -Eq "^zel-listen: .*(radio|spare).monitor, (radio|spare).monitor$" "$work/ambiguous" ||
  fail "ambiguous name: status $code, $(cat "$work/ambiguous")"

wait_until "the recording" recording
pactl list source-outputs | grep -q 'application.name = "ZEL Text Receiver (service)"' ||
  fail "the volume control's name: $(pactl list source-outputs)"
paplay --device=spare "$work/NOT_ON.wav"
paplay --device=radio "$work/ON.wav"
wait_until "the first message" at_least "$work/stdout" 1 " SMS ON THE RADIO"

pactl unload-module "$radio"
wait_until "the loss" at_least "$work/stderr" 1 "^zel-listen: .*lost"
paplay --device=zel_null "$work/NOT_ON.wav" && paplay --device=spare "$work/NOT_ON.wav"
plug radio >/dev/null # now after the spare one
wait_until "the input back" at_least "$work/stderr" 1 "^zel-listen: sound input back"
wait_until "the recording" recording
paplay --device=radio "$work/BACK_ON.wav"
wait_until "the message after the return" at_least "$work/stdout" 1 " SMS BACK_ON THE RADIO"

kill -TERM $listener
[ "$(lines_in "$work/stdout")" -eq 2 ] || fail "stdout: $(cat "$work/stdout")"
[ "$(lines_in "$work/stderr")" -eq 4 ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: kept to the named input as it went and came back"
