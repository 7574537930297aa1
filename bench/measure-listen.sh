#!/usr/bin/env bash
# Measures what zel-listen costs while it listens, as measure-program.sh measures the
# window (bench/usage.sh), side by side with the same peer pipeline in alternating
# rounds: CPU use, wake-ups, resident memory and the sound server's CPU use while each
# listens alone to silence, to continuous traffic and to paced traffic (a message every
# 5 s) on a private sound server, zel-listen publishing every message to a private MQTT
# broker; medians over ROUNDS rounds. Then
# the time from each message's delivery (its "time") to its arrival at a subscriber on
# the same machine: median and largest.
#
# Usage: bench/measure-listen.sh [BUILD-DIR] [SECONDS] [ROUNDS]
#   BUILD-DIR holds bin/zel-listen and bin/zel-encode (default build); each interval
#   lasts SECONDS (default 60), ROUNDS rounds (default 3).
set -euo pipefail
export LC_ALL=C

root=$(dirname "$(dirname "$(realpath "$0")")")
build=$(realpath "${1:-$root/build}")
seconds=${2:-60}
rounds=${3:-3}
pulse=$root/tests/alsa/private-pulse.sh
broker=$root/tests/listen/private-broker.sh

work=$(mktemp -d)
cleanup() {
  kill "${listener:-}" "${subscriber:-}" 2>/dev/null || true
  bash "$broker" stop "$work/broker" || true
  bash "$pulse" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$pulse" start "$work/pulse"
eval "$(bash "$pulse" env "$work/pulse")"
bash "$broker" start "$work/broker"
port=$(cat "$work/broker/port")
source "$root/bench/usage.sh"
export ZEL_RESULTS=$work/rounds.txt
server=$(tr -dc 0-9 <"$work/pulse/runtime/pid")

traffic_recording "$build/bin/zel-encode" "$work/traffic.wav" "$seconds"
traffic_recording "$build/bin/zel-encode" "$work/paced.wav" "$seconds" "$PACED_PAUSE_MS"

mosquitto_sub -h 127.0.0.1 -p "$port" -t 'bench/#' -F '%U %p' >"$work/arrivals" &
subscriber=$!
for round in $(seq "$rounds"); do
  echo "round $round of $rounds"
  measure_peer "$seconds" "$server" "$work"
  "$build/bin/zel-listen" --quiet --station measure --mqtt "mqtt://127.0.0.1:$port/bench" &
  listener=$!
  sleep 2
  measure_kinds listen "$seconds" "$server" "$work" "$listener"
  kill "$listener"
  wait "$listener" || true
done
median_table

# Arrival (seconds since the epoch) minus delivery time, per message, in milliseconds.
sed -n 's/^\([0-9.]*\) {"time":"\([^"]*\)".*/\1 \2/p' "$work/arrivals" |
  while read -r arrival delivered; do
    echo "($arrival - $(date -d "$delivered" +%s.%N)) * 1000" | bc -l
  done | sort -n >"$work/latencies"
count=$(wc -l <"$work/latencies")
[ "$count" -gt 0 ] || { echo "no message reached the subscriber" >&2; exit 1; }
printf 'latency: %d messages from delivery to subscriber: median %.1f ms, largest %.1f ms\n' \
  "$count" "$(sed -n "$(((count + 1) / 2))p" "$work/latencies")" "$(tail -1 "$work/latencies")"
