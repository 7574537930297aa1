# What listening costs, for the benchmark scripts (sourced, not run). Every figure sums
# all threads of the given processes: time on a processor (schedstat, in nanoseconds),
# wake-ups (voluntary and involuntary context switches) and resident memory.

# Silence between paced messages: with the message itself, one every 5 s, a busy
# channel as radio nets carry them (back to back, the channel never rests).
PACED_PAUSE_MS=4700

# traffic_recording ZEL-ENCODE FILE SECONDS [PAUSE-MS]
# Writes text and location messages in turn to FILE, PAUSE-MS apart (default 0: back to
# back, about 3.3 a second), enough (a pair lasts about 0.6 s) to outlast an interval of
# SECONDS.
traffic_recording() {
  local pause=${4:-0} messages=() number
  for number in $(seq $(($3 * 1000 / (600 + 2 * pause) + 1))); do
    messages+=("SMS>TRAFFIC MESSAGE $number>>SECOND LINE" "LOC>4807N01134E $number")
  done
  "$1" -o "$2" --gap "$pause" "${messages[@]}"
}

# play_traffic FILE: plays FILE into the private server's sink, in the background;
# $player holds its process id.
play_traffic() {
  paplay --device=zel_null "$1" &
  player=$!
  sleep 1
}

# stop_traffic: waits for the player to reach the end of its recording. PulseAudio 16
# can abort when a player goes while its shared-memory audio is still being recorded.
stop_traffic() {
  wait "$player" 2>/dev/null || true
}

# "NANOSECONDS SWITCHES RSS-KIB" of the processes PIDS.
usage_of() {
  local pid task ns switches=0 cpu=0 rss=0
  for pid in "$@"; do
    for task in /proc/"$pid"/task/*; do
      read -r ns _ <"$task/schedstat" || continue
      cpu=$((cpu + ns))
      switches=$((switches + $(awk '/ctxt_switches/ { s += $2 } END { print s + 0 }' "$task/status")))
    done
    rss=$((rss + $(awk '$1 == "VmRSS:" { print $2 }' "/proc/$pid/status")))
  done
  echo "$cpu $switches $rss"
}

# measure_interval LABEL SECONDS SERVER-PID PIDS...
# Appends "LABEL CPU% WAKE-UPS/S RSS-MIB SERVER-CPU%" over the next SECONDS to $ZEL_RESULTS
# (CPU as a percentage of one core).
measure_interval() {
  local label=$1 seconds=$2 server=$3
  shift 3
  local before server_before start after server_after end
  before=$(usage_of "$@")
  server_before=$(usage_of "$server")
  start=$(date +%s%N)
  sleep "$seconds"
  after=$(usage_of "$@")
  server_after=$(usage_of "$server")
  end=$(date +%s%N)
  echo "$label $before $after $server_before $server_after $start $end" |
    awk '{ elapsed = $15 - $14
           printf "%s %.3f %.1f %.1f %.3f\n", $1, 100 * ($5 - $2) / elapsed,
                  ($6 - $3) * 1e9 / elapsed, $7 / 1024, 100 * ($11 - $8) / elapsed }' >>"$ZEL_RESULTS"
}

# measure_kinds NAME SECONDS SERVER-PID DIR PIDS...
# Measures the listener PIDS over SECONDS of silence, then of DIR/traffic.wav and of
# DIR/paced.wav played into the sound server, as NAME-silence, NAME-traffic, NAME-paced.
measure_kinds() {
  local name=$1 seconds=$2 server=$3 dir=$4
  shift 4
  measure_interval "$name-silence" "$seconds" "$server" "$@"
  local kind
  for kind in traffic paced; do
    play_traffic "$dir/$kind.wav"
    measure_interval "$name-$kind" "$seconds" "$server" "$@"
    stop_traffic
  done
}

# measure_peer SECONDS SERVER-PID DIR: measure_kinds of the peer, the reference decoder
# fed by the sound server's own recorder, listening alone ("peer-..."); DIR holds the
# recordings and takes the pipe between the two.
measure_peer() {
  local seconds=$1 server=$2 dir=$3
  mkfifo "$dir/peer"
  parec --rate=22050 --channels=1 --format=s16le --raw --device=zel_null.monitor >"$dir/peer" &
  local recorder=$!
  multimon-ng -a FMSFSK -t raw - <"$dir/peer" >/dev/null 2>&1 &
  local decoder=$!
  sleep 2
  measure_kinds peer "$seconds" "$server" "$dir" "$recorder" "$decoder"
  kill "$recorder" 2>/dev/null || true
  wait "$recorder" "$decoder" 2>/dev/null || true
  rm -f "$dir/peer"
}

# The table of medians over the rounds in $ZEL_RESULTS, one row per label.
median_table() {
  printf '%-18s %9s %11s %8s %11s\n' "" "CPU %" "wake-ups/s" "RSS MiB" "server CPU %"
  local label column
  for label in $(awk '{ print $1 }' "$ZEL_RESULTS" | sort -u); do
    printf '%-18s' "$label"
    for column in 2 3 4 5; do
      awk -v label="$label" -v column="$column" '$1 == label { print $column }' "$ZEL_RESULTS" |
        sort -g | awk '{ v[NR] = $1 } END { printf " %10.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
    done
    echo
  done
}
