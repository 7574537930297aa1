#!/usr/bin/env bash
# Run by run-under-xvfb.sh for measure-program.sh while the window is up: measures the
# program behind the window over ZEL_SECONDS of silence, then of ZEL_TRAFFIC played into
# the sound server, and prints one line per interval.
set -euo pipefail
export LC_ALL=C
pid=$(xdotool getwindowpid "$ZEL_WINDOW_ID")
seconds=$ZEL_SECONDS
ticks_per_second=$(getconf CLK_TCK)

# utime + stime of the process or one of its threads (/proc/PID/task/TID), in clock
# ticks: fields 14 and 15, counted after the command's name.
cpu_ticks() {
  local stat
  stat=$(<"${1:-/proc/$pid}/stat")
  read -r -a fields <<<"${stat##*) }"
  echo $((fields[11] + fields[12]))
}

# "TID NAME TICKS" for each thread of the program.
thread_ticks() {
  local task
  for task in /proc/"$pid"/task/*; do
    echo "${task##*/} $(tr ' ' _ <"$task/comm") $(cpu_ticks "$task")"
  done
}

memory_kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$pid/status"; }

# Prints the program's CPU use and memory over the next interval.
measure() {
  local what=$1 ticks start elapsed threads
  threads=$(thread_ticks)
  ticks=$(cpu_ticks)
  start=$(date +%s.%N)
  sleep "$seconds"
  ticks=$(($(cpu_ticks) - ticks))
  elapsed=$(echo "$(date +%s.%N) - $start" | bc -l)
  printf '%-8s %6.2f %% of one core over %.1f s (%d ticks); VmRSS %5.1f MiB, VmHWM %5.1f MiB\n' \
    "$what" "$(echo "100 * $ticks / $ticks_per_second / $elapsed" | bc -l)" "$elapsed" \
    "$ticks" "$(echo "$(memory_kib VmRSS) / 1024" | bc -l)" \
    "$(echo "$(memory_kib VmHWM) / 1024" | bc -l)"
  # Where the ticks went, by thread.
  join <(sort <<<"$threads") <(thread_ticks | sort) |
    awk -v main="$pid" '{ printf "         thread %-7s %-16s %4d ticks\n", $1 == main ? "(main)" : $1, $2, $5 - $3 }'
}

# The program settles after opening its window and the sound input.
sleep 2
measure silence

paplay --device=zel_null "$ZEL_TRAFFIC" &
player=$!
sleep 1
measure traffic
kill "$player" 2>/dev/null || true
wait "$player" 2>/dev/null || true
