#!/usr/bin/env bash
# zel-listen publishes traffic played into the private sound server while the private
# broker is stopped and started again in the middle of it: every message reaches a
# subscriber (QoS 1 may repeat one; unique ones are counted), with the right topic and
# JSON, the loss and the return are one line each on stderr, and SIGTERM delivers the
# message still pending, ends with status 0 and leaves the retained status "offline".
#
# Usage: listen-through-broker-loss.sh ZEL-LISTEN ZEL-ENCODE BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 broker=$3 work=$4
port=$(cat "$broker/port")
station=loss$$
topic=zel/$station
rm -rf "$work" && mkdir -p "$work"

# A lasting session: what arrives while the subscriber reconnects waits at the broker.
mosquitto_sub -h 127.0.0.1 -p "$port" -i "sub-$station" -c -q 1 -v -t "$topic/#" >"$work/received" 2>/dev/null &
subscriber=$!
"$listen" --json --station "$station" --mqtt "mqtt://127.0.0.1:$port/zel" >"$work/stdout" 2>"$work/stderr" &
listener=$!
trap 'kill $subscriber $listener 2>/dev/null || true; "$here/private-broker.sh" restart "$broker" >/dev/null' EXIT
wait_until "the status online" at_least "$work/received" 1 "^$topic/status online$"

texts=()
for number in 01 02 03 04 05 06 07 08; do texts+=("NUMBER $number OK"); done
"$encode" --preamble 600 --gap 700 -o "$work/traffic.wav" "${texts[@]/#/SMS>}"
paplay "$work/traffic.wav" &
player=$!
wait_until "two messages" at_least "$work/stdout" 2
"$here/private-broker.sh" stop "$broker"
wait_until "five messages" at_least "$work/stdout" 5
"$here/private-broker.sh" restart "$broker"
wait $player

"$encode" --preamble 600 --gap 0 -o "$work/last.wav" "SMS>LAST AT STOP"
paplay "$work/last.wav"
sleep 0.3 # recorded whole, and still pending: delivered after two quiet buffers (0.4 s)
kill -TERM $listener
code=0
wait $listener || code=$?
[ $code -eq 0 ] || fail "exit status $code after SIGTERM"
texts+=("LAST AT STOP")

[ "$(lines_in "$work/stdout")" -eq ${#texts[@]} ] || fail "stdout: $(cat "$work/stdout")"
unique_received() { [ "$(grep "^$topic/sms " "$work/received" | sort -u | wc -l)" -ge "$1" ]; }
wait_until "every message at the subscriber" unique_received ${#texts[@]}
for index in "${!texts[@]}"; do
  pattern=$(json_pattern SMS "${texts[$index]}" "$station")
  sed -n "$((index + 1))p" "$work/stdout" | grep -Eq "$pattern" || fail "line $((index + 1)) of stdout: $(cat "$work/stdout")"
  grep -Eq "^$topic/sms ${pattern#^}" "$work/received" || fail "${texts[$index]} not received: $(cat "$work/received")"
done
[ "$(status_of "$port" "$station")" = offline ] || fail "the status is not offline after SIGTERM"
grep -q "lost the MQTT broker" "$work/stderr" && grep -q "is back" "$work/stderr" &&
  [ "$(lines_in "$work/stderr")" -eq 2 ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: $(sort -u "$work/received" | grep -c /sms) messages through a broker restart"
