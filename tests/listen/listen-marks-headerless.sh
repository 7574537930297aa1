#!/usr/bin/env bash
# A frame whose header frame was lost, between a text and a location, as zel-listen
# shows it: its plain line is marked "headerless", and it is published under
# .../headerless with "headed":false, never under sms or loc, which get only the text
# and the location.
#
# Usage: listen-marks-headerless.sh ZEL-LISTEN ZEL-ENCODE BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 broker=$3 work=$4
port=$(cat "$broker/port")
station=headerless$$
topic=zel/$station
rm -rf "$work" && mkdir -p "$work"

mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -v -t "$topic/#" >"$work/received" 2>/dev/null &
subscriber=$!
"$listen" --station "$station" --mqtt "mqtt://127.0.0.1:$port/zel" >"$work/stdout" 2>"$work/stderr" &
listener=$!
trap 'kill $subscriber $listener 2>/dev/null || true' EXIT
wait_until "the status online" at_least "$work/received" 1 "^$topic/status online$"

# The header frame ';(SMS>ABCE' cut out after the preamble (its even count of 1 bits
# leaves the tone's phase unbroken), and as much silence added at the end, so that
# the WAV header still holds.
"$encode" --preamble 600 --gap 700 -o "$work/whole.wav" "SMS>ABCEHEADLESS"
preamble=$((44 + 600 * 40 * 2)) frame=$((80 * 40 * 2))
{
  head -c $preamble "$work/whole.wav"
  tail -c +$((preamble + frame + 1)) "$work/whole.wav"
  head -c $frame /dev/zero
} >"$work/headerless.wav"
"$encode" --preamble 600 --gap 700 -o "$work/text.wav" "SMS>FIRST"
"$encode" --preamble 600 --gap 700 -o "$work/location.wav" "LOC>52N"
for sound in text headerless location; do paplay "$work/$sound.wav"; done
wait_until "three messages" at_least "$work/received" 3 "^$topic/[hsl]"

# Without the times, stdout and what the subscriber got are exactly these.
[ "$(sed -E 's/^[0-9-]{10}T[0-9:]{8}\.[0-9]{3}Z //' "$work/stdout")" = \
  "$(printf '%s\n' "SMS FIRST       " "headerless SMS LESS" "LOC 52N ")" ] ||
  fail "stdout: $(cat "$work/stdout")"
json() { printf '{"kind":"%s","text":"%s","station":"%s"%s}' "$1" "$2" "$station" "${3:-}"; }
[ "$(sed -E 's/"time":"[^"]*",//; s/,'"$report_fields"'}$/}/' "$work/received")" = "$(printf '%s\n' "$topic/status online" \
  "$topic/sms $(json SMS "FIRST       ")" \
  "$topic/headerless $(json SMS LESS ',"headed":false')" \
  "$topic/loc $(json LOC "52N ")")" ] || fail "received: $(cat "$work/received")"
[ ! -s "$work/stderr" ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: the headerless message marked, and published apart"
