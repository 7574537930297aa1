#!/usr/bin/env bash
# Measures what the web page's event streams cost zel-listen: its CPU time (all threads,
# from /proc) over SECONDS of paced traffic (a message every 5 s) on a private sound
# server, with --http and no client, then with STREAMS clients holding /api/events open,
# in alternating rounds; medians over ROUNDS rounds, as a percentage of one core. The
# streams' cost is the difference. Every stream must have got every message.
#
# Usage: bench/measure-web.sh [BUILD-DIR] [SECONDS] [ROUNDS] [STREAMS]
#   defaults: build, 60, 3, 50
set -euo pipefail
export LC_ALL=C

root=$(dirname "$(dirname "$(realpath "$0")")")
build=$(realpath "${1:-$root/build}")
seconds=${2:-60}
rounds=${3:-3}
streams=${4:-50}
pulse=$root/tests/alsa/private-pulse.sh
port=18790

work=$(mktemp -d)
cleanup() {
  kill "${listener:-}" "${clients:-}" 2>/dev/null || true
  bash "$pulse" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$pulse" start "$work/pulse"
eval "$(bash "$pulse" env "$work/pulse")"
source "$root/bench/usage.sh"
traffic_recording "$build/bin/zel-encode" "$work/paced.wav" "$seconds" "$PACED_PAUSE_MS"

# STREAMS event streams held open until killed; then "STREAMS MESSAGES-EACH" in $work/got.
open_streams() {
  /usr/bin/python3 - "$port" "$streams" "$work/got" <<'PYTHON' &
import selectors, signal, socket, sys
port, count, result = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
selector, got = selectors.DefaultSelector(), {}
for _ in range(count):
    client = socket.create_connection(("127.0.0.1", port))
    client.sendall(b"GET /api/events HTTP/1.1\r\nHost: bench\r\n\r\n")
    selector.register(client, selectors.EVENT_READ)
    got[client] = 0
def report(*_):
    counts = sorted(set(got.values()))
    open(result, "w").write(f"{len(got)} {'/'.join(map(str, counts))}\n")
    sys.exit(0)
signal.signal(signal.SIGTERM, report)
while True:
    for key, _ in selector.select():
        got[key.fileobj] += key.fileobj.recv(65536).count(b"id: ")
PYTHON
  clients=$!
  sleep 1
}

# cpu LABEL: zel-listen's CPU use over $seconds of paced traffic, appended to $work/LABEL.
cpu() {
  local before after start end
  play_traffic "$work/paced.wav"
  before=$(usage_of "$listener")
  start=$(date +%s%N)
  sleep "$seconds"
  after=$(usage_of "$listener")
  end=$(date +%s%N)
  stop_traffic
  echo "${before%% *} ${after%% *} $start $end" |
    awk '{ printf "%.4f\n", 100 * ($2 - $1) / ($4 - $3) }' >>"$work/$1"
}

for round in $(seq "$rounds"); do
  echo "round $round of $rounds"
  "$build/bin/zel-listen" --station measure --http "$port" >/dev/null &
  listener=$!
  sleep 2
  cpu alone
  open_streams
  cpu streams
  kill -TERM "$clients"
  wait "$clients" || true
  echo "  streams and the messages each got: $(cat "$work/got")"
  kill "$listener"
  wait "$listener" || true
done

median() { sort -n "$work/$1" | sed -n "$(((rounds + 1) / 2))p"; }
alone=$(median alone) with=$(median streams)
printf 'zel-listen CPU, %% of one core (median of %d rounds of %d s, a message every 5 s):\n' \
  "$rounds" "$seconds"
printf '  --http, no client:       %s\n  --http, %d event streams: %s\n' "$alone" "$streams" "$with"
printf '  the streams cost:        %.4f %% of a core\n' "$(echo "$with - $alone" | bc -l)"
