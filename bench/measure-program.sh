#!/usr/bin/env bash
# Measures what the whole program costs while it only listens, side by side with the
# peer pipeline "parec --rate=22050 ... | multimon-ng -a FMSFSK -t raw -" on the same
# private sound server: both listen to silence and to continuous traffic (back-to-back
# messages played with paplay) and to paced traffic (a message every 5 s, a busy radio
# net), in alternating rounds. Each interval gives the listener's
# CPU use (schedstat of all its threads, as a percentage of one core), its wake-ups a
# second (voluntary + involuntary context switches of all threads), its resident memory
# and the sound server's own CPU use (bench/usage.sh); the table shows the medians. The
# program runs on a private display; nothing of the machine's own set-up is touched.
#
# Usage: bench/measure-program.sh [BUILD-DIR] [SECONDS] [ROUNDS]
#   BUILD-DIR holds bin/ZELTextReceiver, bin/zel-encode and bin/zel-close-window
#   (default build-e2e); each interval lasts SECONDS (default 60), and each listener is
#   measured ROUNDS times (default 3). The window as it was at the end is left in
#   BUILD-DIR/measure/main-window.png, every interval's figures in BUILD-DIR/measure/rounds.txt.
# Environment: ZEL_MEASURE_WRAPPER, a command the program is run under (valgrind, say).
set -euo pipefail

root=$(dirname "$(dirname "$(realpath "$0")")")
build=$(realpath "${1:-$root/build-e2e}")
seconds=${2:-60}
rounds=${3:-3}
pulse=$root/tests/alsa/private-pulse.sh

work=$(mktemp -d)
cleanup() {
  bash "$pulse" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$pulse" start "$work/pulse"
eval "$(bash "$pulse" env "$work/pulse")"
export LC_ALL=C
source "$root/bench/usage.sh"
mkdir -p "$build/measure"
export ZEL_RESULTS=$build/measure/rounds.txt ZEL_SERVER_PID
: >"$ZEL_RESULTS"
ZEL_SERVER_PID=$(tr -dc 0-9 <"$work/pulse/runtime/pid")

traffic_recording "$build/bin/zel-encode" "$work/traffic.wav" "$seconds"
traffic_recording "$build/bin/zel-encode" "$work/paced.wav" "$seconds" "$PACED_PAUSE_MS"

program=$build/bin/ZELTextReceiver
if [ -n "${ZEL_MEASURE_WRAPPER:-}" ]; then
  # The wrapper runs in place of the program; zel-close-window stays next to it.
  cat >"$work/ZELTextReceiver" <<EOF
#!/bin/sh
exec $ZEL_MEASURE_WRAPPER "$program"
EOF
  chmod +x "$work/ZELTextReceiver"
  program=$work/ZELTextReceiver
  export ZEL_CLOSE_WINDOW=$build/bin/zel-close-window
fi

for round in $(seq "$rounds"); do
  echo "round $round of $rounds"
  measure_peer "$seconds" "$ZEL_SERVER_PID" "$work"
  ZEL_TRAFFIC=$work/traffic.wav ZEL_PACED=$work/paced.wav ZEL_SECONDS=$seconds \
    "$root/tests/gui/run-under-xvfb.sh" "$program" "$build/measure" "$root/bench/measure-window.sh"
done
median_table
