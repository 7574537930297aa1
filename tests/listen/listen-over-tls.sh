#!/usr/bin/env bash
# zel-listen over mqtts:// to the private broker, trusting the broker's own test
# certificate: a message played into the private sound server arrives with the right
# topic and JSON, the station says "online" while it runs, and after kill -9 the
# broker's last will leaves "offline". The plain output shows the timestamped line. The
# input is chosen by its name in --list-devices: the null sink's monitor; a name that
# no input has is refused at once.
#
# Usage: listen-over-tls.sh ZEL-LISTEN ZEL-ENCODE BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 broker=$3 work=$4
port=$(cat "$broker/tls-port")
tls=(--cafile "$broker/cert.pem")
station=tls$$
topic=zel/$station
rm -rf "$work" && mkdir -p "$work"

mosquitto_sub -h 127.0.0.1 -p "$port" "${tls[@]}" -q 1 -v -t "$topic/#" >"$work/received" 2>/dev/null &
subscriber=$!
device="Monitor of Null Output"
"$listen" --list-devices | grep -q "	$device$" || fail "no '$device' in --list-devices"
"$listen" --device "$device" --station "$station" --mqtt "mqtts://127.0.0.1:$port/zel" "${tls[@]}" >"$work/stdout" 2>"$work/stderr" &
listener=$!
trap 'kill $subscriber $listener 2>/dev/null || true' EXIT
wait_until "the status online" at_least "$work/received" 1 "^$topic/status online$"

"$encode" --preamble 600 -o "$work/traffic.wav" 'LOC>48.1N 011.3E' 'SMS>caf\xe9 "12"\\ab'
paplay "$work/traffic.wav"
wait_until "two messages" at_least "$work/received" 2 "^$topic/[ls]"
grep -Eq "^$topic/loc $(json_pattern LOC '48.1N 011.3E' "$station" | cut -c2-)" "$work/received" ||
  fail "location: $(cat "$work/received")"
grep -Fq "$topic/sms {\"time\":" "$work/received" &&
  grep -Fq '"kind":"SMS","text":"café \"12\"\\ab","station":"'"$station"'","level_dbfs":' "$work/received" ||
  fail "text: $(cat "$work/received")"
time='^[0-9-]{10}T[0-9:]{8}\.[0-9]{3}Z '
grep -Eq "${time}LOC 48\.1N 011\.3E$" "$work/stdout" && grep -Eq "${time}SMS" "$work/stdout" &&
  grep -Fq ' SMS caf\xe9 "12"\\ab' "$work/stdout" || fail "stdout: $(cat "$work/stdout")"

kill -KILL $listener
wait_until "the last will" at_least "$work/received" 1 "^$topic/status offline$"
[ "$(status_of "$port" "$station" "${tls[@]}")" = offline ] || fail "the retained status is not offline"
[ ! -s "$work/stderr" ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: received over TLS; offline through the last will"
