#!/usr/bin/env bash
# Soak run of the receiver's recovery: for MINUTES (default 30) numbered messages are
# played back to back into a private sound server while the receiver (the window's units
# without the window: zel-bench-soak-listener) records from it, and the server is
# killed and started again every RESTART minutes (default 5). Reports the messages sent
# and shown, the errors, the recoveries with the time from each server start to the next
# recorded buffer, the listener's resident memory at the start and the end and its
# processor time.
# Not a test; nothing of the machine's own sound set-up is touched.
#
# Usage: bench/soak.sh [MINUTES] [RESTART-MINUTES] [BUILD-DIR]
#   BUILD-DIR holds bin/zel-bench-soak-listener and bin/zel-encode (default build).
# Environment: ZEL_SOAK_EVENTS, a file to keep the listener's events in.
set -euo pipefail

root=$(dirname "$(dirname "$(realpath "$0")")")
minutes=${1:-30}
restart_minutes=${2:-5}
build=$(realpath "${3:-$root/build}")
pulse=$root/tests/alsa/private-pulse.sh

work=$(mktemp -d)
listener_pid=
cleanup() {
  [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null || true
  [ -z "${ZEL_SOAK_EVENTS:-}" ] || cp "$work/events.txt" "$ZEL_SOAK_EVENTS"
  bash "$pulse" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$pulse" start "$work/pulse"
eval "$(bash "$pulse" env "$work/pulse")"
now_ms() { date +%s%3N; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$listener_pid/status"; }

"$build/bin/zel-bench-soak-listener" >"$work/events.txt" &
listener_pid=$!
until grep -q recording "$work/events.txt"; do sleep 0.1; done
sleep 5
rss_start=$(rss_kb)

# One message every 1.7 s or so: each in a file of its own, so that a number sent is a
# number that can be looked for, with a long preamble, as a sound server drops the first
# moments of every new stream.
end=$((SECONDS + minutes * 60))
next_restart=$((SECONDS + restart_minutes * 60))
sent=0
: >"$work/restarts.txt"
while [ $SECONDS -lt $end ]; do
  if [ $SECONDS -ge $next_restart ]; then
    kill -KILL "$(cat "$work/pulse/runtime/pid")"
    sleep 2
    bash "$pulse" start "$work/pulse"
    now_ms >>"$work/restarts.txt"
    next_restart=$((next_restart + restart_minutes * 60))
    continue
  fi
  sent=$((sent + 1))
  "$build/bin/zel-encode" --preamble 600 -o "$work/message.wav" "SMS>SOAK MESSAGE $sent" 2>/dev/null
  paplay --device=zel_null "$work/message.wav" 2>/dev/null || true
done
sleep 3
rss_end=$(rss_kb)
kill -TERM "$listener_pid"
wait "$listener_pid" || true
listener_pid=

shown=$(grep -c ' message SOAK MESSAGE' "$work/events.txt" || true)
errors=$(grep -c ' error ' "$work/events.txt" || true)
echo "duration: $minutes min, server killed and restarted every $restart_minutes min"
echo "messages sent: $sent, shown: $shown (distinct: $(grep ' message ' "$work/events.txt" | sort -u -k3 | wc -l))"
echo "error boxes: $errors ($(grep ' error ' "$work/events.txt" | cut -d' ' -f3- | sort | uniq -c | tr -s ' ' | paste -sd';'))"
echo "recoveries (server start to first recorded buffer):"
while read -r started; do
  resumed=$(awk -v t="$started" '$2 == "recording" && $1 >= t - 1000 { print $1; exit }' "$work/events.txt")
  if [ -n "$resumed" ]; then
    echo "  $(((resumed - started))) ms"
  else
    echo "  never"
  fi
done <"$work/restarts.txt"
echo "resident memory: ${rss_start} kB at the start, ${rss_end} kB at the end"
cpu_us=$(awk '$2 == "cpu" { print $3 }' "$work/events.txt")
echo "processor time of the listener: $((cpu_us / 1000)) ms in all"
