#!/usr/bin/env bash
# Measures what the whole program costs while it runs: its CPU use (utime + stime from
# /proc/PID/stat over the interval, as a percentage of one core) and its resident memory
# (VmRSS and VmHWM from /proc/PID/status at the interval's end), once while it listens to
# silence and once while it receives continuous traffic (back-to-back messages played
# with paplay). It runs on a private display and records from a private sound server,
# as the tests do; nothing of the machine's own set-up is touched.
#
# Usage: bench/measure-program.sh [BUILD-DIR] [SECONDS]
#   BUILD-DIR holds bin/ZELTextReceiver, bin/zel-encode and bin/zel-close-window
#   (default build-e2e); each interval lasts SECONDS (default 60). The window as it
#   was at the end is left in BUILD-DIR/measure/main-window.png.
# Environment: ZEL_MEASURE_WRAPPER, a command the program is run under (valgrind, say).
set -euo pipefail

root=$(dirname "$(dirname "$(realpath "$0")")")
build=$(realpath "${1:-$root/build-e2e}")
seconds=${2:-60}
pulse=$root/tests/alsa/private-pulse.sh

work=$(mktemp -d)
cleanup() {
  bash "$pulse" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$pulse" start "$work/pulse"
eval "$(bash "$pulse" env "$work/pulse")"

# Enough back-to-back messages (a pair lasts about 0.6 s) to outlast the interval.
messages=()
for number in $(seq $((seconds * 2))); do
  messages+=("SMS>TRAFFIC MESSAGE $number>>SECOND LINE" "LOC>4807N01134E $number")
done
"$build/bin/zel-encode" -o "$work/traffic.wav" --gap 0 "${messages[@]}"

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

ZEL_TRAFFIC=$work/traffic.wav ZEL_SECONDS=$seconds \
  "$root/tests/gui/run-under-xvfb.sh" "$program" "$build/measure" "$root/bench/measure-window.sh"
