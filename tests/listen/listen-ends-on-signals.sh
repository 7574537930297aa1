#!/usr/bin/env bash
# zel-listen's end on a termination signal, for each of them: the first delivers the
# message still pending and ends with status 0; a second one before that end is done
# ends it at once, as the signal's default would (128 + its number). Its reader gone
# (`zel-listen | head -1`), it ends with one line and status 1, not bad arguments' 2.
#
# Usage: listen-ends-on-signals.sh ZEL-LISTEN ZEL-ENCODE WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
own_sound_server start
"$encode" --preamble 600 -o "$work/ready.wav" "SMS>READY"
"$encode" --preamble 600 --gap 0 -o "$work/pending.wav" "SMS>PENDING AT STOP"

# Starts a listener and waits until it has received a message.
start_listener() {
  "$listen" >"$work/stdout" 2>"$work/stderr" &
  listener=$!
  wait_until "the recording" recording
  paplay "$work/ready.wav"
  wait_until "the first message" at_least "$work/stdout" 1 " SMS READY"
}

# end_with SIGNAL...: sends the signals while the listener is stopped, so that it takes
# them all before it can act on the first; its exit status goes to $code.
end_with() {
  kill -STOP $listener
  for signal in "$@"; do kill -"$signal" $listener; done
  kill -CONT $listener
  code=0
  wait $listener || code=$?
  listener=
}

for signal in TERM INT HUP; do
  start_listener
  paplay "$work/pending.wav"
  sleep 0.3 # recorded whole, and still pending: delivered after two quiet buffers (0.4 s)
  end_with $signal
  [ "$code" -eq 0 ] || fail "exit status $code after SIG$signal"
  at_least "$work/stdout" 1 " SMS PENDING AT STOP" || fail "SIG$signal: stdout: $(cat "$work/stdout")"
done

for pair in "TERM INT" "INT HUP" "HUP TERM"; do
  read -r first second <<<"$pair"
  start_listener
  end_with "$first" "$second"
  # Whichever is taken second ends it.
  [ "$code" -eq $((128 + $(kill -l "$first"))) ] || [ "$code" -eq $((128 + $(kill -l "$second"))) ] ||
    fail "exit status $code after SIG$first and SIG$second"
done

mkfifo "$work/fifo"
stored() { [ "$(sqlite3 "$work/store.db" 'SELECT count(*) FROM messages' 2>/dev/null)" = "$1" ]; }
head -1 <"$work/fifo" >"$work/head" &
reader=$!
"$listen" >"$work/fifo" 2>"$work/stderr" &
listener=$!
wait_until "the recording" recording
paplay "$work/ready.wav"
wait $reader
paplay "$work/ready.wav"
code=0
wait $listener || code=$?
listener=
[ "$code" -eq 1 ] && [ "$(cat "$work/stderr")" = "zel-listen: cannot write the output; stopping" ] ||
  fail "reader gone: exit status $code, stderr: $(cat "$work/stderr")"

# With a store, messages still have somewhere to go: the service goes on.
head -1 <"$work/fifo" >"$work/head" &
reader=$!
"$listen" --store "$work/store.db" >"$work/fifo" 2>"$work/stderr" &
listener=$!
wait_until "the recording" recording
paplay "$work/ready.wav"
wait $reader
paplay "$work/ready.wav"
wait_until "the report" at_least "$work/stderr" 1 "^zel-listen: cannot write the output; messages go on to the store only$"
paplay "$work/ready.wav"
wait_until "the third message stored" stored 3
kill -TERM $listener
code=0
wait $listener || code=$?
listener=
[ "$code" -eq 0 ] || fail "with a store, reader gone: exit status $code, stderr: $(cat "$work/stderr")"
echo "passed: each signal delivers the pending message; a second one ends at once; a reader gone ends it with status 1, unless a store still takes the messages"
