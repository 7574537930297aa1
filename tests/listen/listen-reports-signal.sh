#!/usr/bin/env bash
# What zel-listen tells of the signal, played at known levels (-6 and -20 dBFS): with
# --report each line ends in a tab and the message's report, the JSON it publishes
# carries the report's fields, the store keeps them, and SIGUSR1, as often as it comes,
# writes the summary since the start on stderr without ending it (the messages reach
# the summary from the store's thread).
#
# Usage: listen-reports-signal.sh ZEL-LISTEN ZEL-ENCODE BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 broker=$3 work=$4
port=$(cat "$broker/port")
station=report$$
topic=zel/$station
rm -rf "$work" && mkdir -p "$work"

mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -v -t "$topic/#" >"$work/received" 2>/dev/null &
subscriber=$!
"$listen" --report --store "$work/messages.db" --station "$station" --mqtt "mqtt://127.0.0.1:$port/zel" >"$work/stdout" 2>"$work/stderr" &
listener=$!
trap 'kill $subscriber $listener 2>/dev/null || true' EXIT
wait_until "the status online" at_least "$work/received" 1 "^$topic/status online$"

"$encode" --preamble 600 --amplitude 0.5 -o "$work/loud.wav" "SMS>LOUD"
"$encode" --preamble 600 --amplitude 0.1 -o "$work/soft.wav" "SMS>SOFT"
"$encode" --preamble 600 --amplitude 0.1 -o "$work/location.wav" "LOC>52N"
for sound in loud soft location; do paplay "$work/$sound.wav"; done
wait_until "three messages" at_least "$work/received" 3 "^$topic/[sl]"

# near VALUE EXPECTED: within 3 dB, far closer than the levels played are to each other.
near() { awk -v value="$1" -v expected="$2" 'BEGIN { d = value - expected; exit !(d < 3 && d > -3) }'; }
level='(-?[0-9]+\.[0-9]) dBFS  SNR >?[0-9]+ dB  [-+][0-9]+ Hz  [-+][0-9]+ ppm'
time='[0-9-]{10}T[0-9:]{8}\.[0-9]{3}Z'
mapfile -t lines <"$work/stdout"
for row in "0 SMS LOUD -6" "1 SMS SOFT -20" "2 LOC 52N -20"; do
  read -r index kind text expected <<<"$row"
  [[ ${lines[index]} =~ ^$time\ $kind\ $text\ *$'\t'$level$ ]] && near "${BASH_REMATCH[1]}" "$expected" ||
    fail "line $index: ${lines[index]}"
done
[ "$(grep -cE "^$topic/(sms|loc) \{.*\"station\":\"$station\",$report_fields\}$" "$work/received")" -eq 3 ] ||
  fail "received: $(cat "$work/received")"

# summary_lines COUNT: waits for the COUNTth summary; its lines then stand in $summary.
summary_lines() {
  wait_until "summary $1" at_least "$work/stderr" "$1" "^zel-listen: since "
  summary=$(awk '/^zel-listen: since /{n++} n=='"$1" "$work/stderr")
}
range='(-?[0-9.]+) dBFS \(lowest (-?[0-9.]+), highest (-?[0-9.]+), mean (-?[0-9.]+)\); SNR [0-9.]+ dB \(lowest [0-9.]+, highest [0-9.]+, mean [0-9.]+\)'
for asked in 1 2; do
  kill -USR1 $listener
  summary_lines $asked
  mapfile -t told <<<"$summary"
  [ ${#told[@]} -eq 3 ] && [[ ${told[0]} =~ ^zel-listen:\ since\ $time:\ 2\ SMS,\ 1\ LOC,\ 0\ headerless$ ]] ||
    fail "summary $asked: $summary"
  [[ ${told[1]} =~ ^zel-listen:\ SMS:\ 2,\ the\ last\ at\ $time\;\ level\ $range$ ]] &&
    near "${BASH_REMATCH[1]}" -20 && near "${BASH_REMATCH[2]}" -20 && near "${BASH_REMATCH[3]}" -6 &&
    near "${BASH_REMATCH[4]}" -13 || fail "summary $asked, SMS: ${told[1]}"
  [[ ${told[2]} =~ ^zel-listen:\ LOC:\ 1,\ the\ last\ at\ $time\;\ level\ $range$ ]] &&
    near "${BASH_REMATCH[1]}" -20 || fail "summary $asked, LOC: ${told[2]}"
done
stop_listener
[ "$(sqlite3 "$work/messages.db" "SELECT count(*) FROM messages WHERE level_dbfs < -3")" -eq 3 ] ||
  fail "stored: $(sqlite3 "$work/messages.db" "SELECT id, level_dbfs FROM messages")"
[ "$(grep -vc '^zel-listen: ' "$work/stderr")" -eq 0 ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: each line with its report, the JSON and the store with its fields, and the summary at every SIGUSR1"
