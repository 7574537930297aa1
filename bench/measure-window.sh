#!/usr/bin/env bash
# Run by run-under-xvfb.sh for measure-program.sh while the window is up: measures the
# program behind the window over ZEL_SECONDS of silence, then of ZEL_TRAFFIC and of
# ZEL_PACED played into the sound server (bench/usage.sh's measure_interval), and prints
# where its processor time went, by thread.
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/usage.sh"
pid=$(xdotool getwindowpid "$ZEL_WINDOW_ID")

# "TID NAME NANOSECONDS SWITCHES" for each thread of the program.
thread_times() {
  local task ns
  for task in /proc/"$pid"/task/*; do
    read -r ns _ <"$task/schedstat"
    echo "${task##*/} $(tr ' ' _ <"$task/comm") $ns $(awk '/ctxt_switches/ { s += $2 } END { print s }' "$task/status")"
  done
}

measure() {
  local threads
  threads=$(thread_times)
  measure_interval "receiver-$1" "$ZEL_SECONDS" "$ZEL_SERVER_PID" "$pid"
  join <(sort <<<"$threads") <(thread_times | sort) |
    awk -v main="$pid" -v what="$1" '{ printf "%-8s thread %-7s %-16s %8.1f ms %6d wake-ups\n", what,
                                        $1 == main ? "(main)" : $1, $2, ($6 - $3) / 1e6, $7 - $4 }'
}

# The program settles after opening its window and the sound input.
sleep 2
measure silence
play_traffic "$ZEL_TRAFFIC"
measure traffic
stop_traffic
play_traffic "$ZEL_PACED"
measure paced
stop_traffic
