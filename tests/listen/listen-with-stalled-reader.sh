#!/usr/bin/env bash
# zel-listen keeps receiving while the reader of its stdout stops reading for 10 s:
# the broker's subscriber gets every message, the oldest lines that did not fit its
# backlog go unwritten, and one line on stderr says how many once the reader reads
# again; what is received afterwards is written as before.
#
# Usage: listen-with-stalled-reader.sh ZEL-LISTEN ZEL-ENCODE BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 broker=$3 work=$4
port=$(cat "$broker/port")
station=stall$$
topic=zel/$station
rm -rf "$work" && mkdir -p "$work"
mkfifo "$work/fifo"

mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -v -t "$topic/#" >"$work/received" 2>/dev/null &
subscriber=$!
cat "$work/fifo" >"$work/stdout" &
reader=$!
"$listen" --backlog 2 --station "$station" --mqtt "mqtt://127.0.0.1:$port/zel" >"$work/fifo" 2>"$work/stderr" &
listener=$!
trap 'kill -CONT $reader 2>/dev/null || true; kill $subscriber $listener $reader 2>/dev/null || true' EXIT
wait_until "the status online" at_least "$work/received" 1 "^$topic/status online$"

texts=()
for number in 01 02 03 04 05 06; do texts+=("STALLED $number"); done
"$encode" --preamble 600 --gap 700 -o "$work/stalled.wav" "${texts[@]/#/SMS>}"
for text in BEFORE AFTER; do "$encode" --preamble 600 -o "$work/$text.wav" "SMS>$text THE STALL"; done
paplay "$work/BEFORE.wav"
wait_until "the line before the stall" at_least "$work/stdout" 1 " SMS BEFORE THE STALL"

kill -STOP $reader
stalled_at=$SECONDS
# The pipe is filled to the brim: every line zel-listen writes from now on waits.
yes '' | dd of="$work/fifo" oflag=nonblock bs=4096 iflag=fullblock 2>/dev/null || true
paplay "$work/stalled.wav"
received() { [ "$(grep -c "^$topic/sms " "$work/received")" -ge "$1" ]; }
wait_until "every message at the subscriber" received $((1 + ${#texts[@]}))
sleep $((10 - (SECONDS - stalled_at) > 0 ? 10 - (SECONDS - stalled_at) : 0))
kill -CONT $reader
wait_until "the report" at_least "$work/stderr" 1 "read too slowly"
paplay "$work/AFTER.wav"
wait_until "the line after the stall" at_least "$work/stdout" 1 " SMS AFTER THE STALL"
stop_listener

grep -Eqx "zel-listen: the output was read too slowly: the oldest [0-9]+ lines? went unwritten" \
  "$work/stderr" && [ "$(lines_in "$work/stderr")" -eq 1 ] || fail "stderr: $(cat "$work/stderr")"
dropped=$(grep -Eo "[0-9]+ line" "$work/stderr" | grep -Eo "[0-9]+")
[ "$(lines_in "$work/stdout" " SMS STALLED")" -eq $((${#texts[@]} - dropped)) ] ||
  fail "$dropped dropped, stdout: $(grep . "$work/stdout")"
echo "passed: $dropped of ${#texts[@]} lines dropped for a stalled reader, every message published"
