#!/usr/bin/env bash
# Measures what waiting for a sound input costs: zel-listen (the same keeper and sound
# input as the window) is started with nothing to record from and left waiting for
# SECONDS, in each of three situations on a private sound server:
#   no-server   there is no sound server at all (and no sound card)
#   stopped     the server is stopped (SIGSTOP) before the program starts
#   no-source   the server runs but has no source (its sink is unloaded)
# Then the input is given back (the server started, continued, or its sink loaded) and
# the time until zel-listen says it listens is shown. CPU is a percentage of one core,
# all threads of the program (schedstat), and, as a check that counts threads that
# ended too, the kernel's tick count over the same interval.
#
# Usage: bench/measure-waiting.sh [SECONDS] [BUILD-DIR]   (default 120 s, build)
set -euo pipefail
export LC_ALL=C

root=$(dirname "$(dirname "$(realpath "$0")")")
seconds=${1:-120}
build=$(realpath "${2:-$root/build}")
pulse=$root/tests/alsa/private-pulse.sh
source "$root/bench/usage.sh"

work=$(mktemp -d)
listener=
cleanup() {
  [ -z "$listener" ] || kill "$listener" 2>/dev/null || true
  [ ! -s "$work/pulse/runtime/pid" ] || kill -CONT "$(cat "$work/pulse/runtime/pid")" 2>/dev/null || true
  bash "$pulse" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT
eval "$(bash "$pulse" env "$work/pulse")"
server_pid() { tr -dc 0-9 <"$work/pulse/runtime/pid"; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
now_ms() { date +%s%3N; }

# lose and give back: shell commands for each situation.
declare -A lose=(
  [no-server]="true"
  [stopped]='kill -STOP $(server_pid)'
  [no-source]="pactl unload-module module-null-sink"
)
declare -A give_back=(
  [no-server]='bash "$pulse" start "$work/pulse"'
  [stopped]='kill -CONT $(server_pid)'
  [no-source]="pactl load-module module-null-sink sink_name=zel_null rate=48000 channels=1 channel_map=mono >/dev/null && pactl set-default-source zel_null.monitor"
)

printf '%-10s %8s %13s %10s %12s\n' situation "CPU %" "CPU % (ticks)" wake-ups/s "listens after"
for situation in no-server stopped no-source; do
  bash "$pulse" stop "$work/pulse"
  if [ "$situation" = no-server ]; then bash "$pulse" config "$work/pulse"; else bash "$pulse" start "$work/pulse"; fi
  eval "${lose[$situation]}"
  "$build/bin/zel-listen" 2>"$work/listen.txt" >/dev/null &
  listener=$!
  sleep 5
  read -r cpu0 switches0 _ <<<"$(usage_of "$listener")"
  ticks0=$(ticks "$listener")
  start=$(date +%s%N)
  sleep "$seconds"
  read -r cpu1 switches1 _ <<<"$(usage_of "$listener")"
  ticks1=$(ticks "$listener")
  elapsed=$(($(date +%s%N) - start))
  back=$(now_ms)
  eval "${give_back[$situation]}"
  until grep -q 'listening' "$work/listen.txt"; do
    [ $(($(now_ms) - back)) -lt 30000 ] || break
    sleep 0.02
  done
  took=$(($(now_ms) - back))
  kill "$listener"
  wait "$listener" || true
  listener=
  awk -v label="$situation" -v cpu=$((cpu1 - cpu0)) -v sw=$((switches1 - switches0)) \
    -v ticks=$((ticks1 - ticks0)) -v hz="$(getconf CLK_TCK)" -v elapsed="$elapsed" -v took="$took" \
    'BEGIN { printf "%-10s %8.4f %13.4f %10.2f %9d ms\n", label, 100 * cpu / elapsed,
             100 * ticks / hz * 1e9 / elapsed, sw * 1e9 / elapsed, took }'
done
