#!/usr/bin/env bash
# zel-listen started while there is no sound input waits for one: one line says so,
# a second one when the sound server comes; then it receives what is played. When the
# server stops answering (SIGSTOP), one line says the input was lost, a fourth one that
# it is back once the server continues, and what is played then is received too. SIGTERM
# ends it with status 0. Listing the inputs while there is none says so.
#
# Usage: listen-waits-for-input.sh ZEL-LISTEN ZEL-ENCODE WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
own_sound_server config

# (A machine with a sound card of its own always has an input.)
if ! compgen -G "/dev/snd/controlC*" >/dev/null; then
  code=0
  "$listen" --list-devices >"$work/list" 2>"$work/none" || code=$?
  [ $code -eq 1 ] && [ ! -s "$work/list" ] && grep -qx "zel-listen: no sound input found" "$work/none" ||
    fail "listing no input: status $code, $(cat "$work/list" "$work/none")"
fi

"$listen" >"$work/stdout" 2>"$work/stderr" &
listener=$!
wait_until "the waiting line" at_least "$work/stderr" 1 "^zel-listen: no sound input .*waiting"
bash "$pulse" start "$work/pulse"
wait_until "the input" at_least "$work/stderr" 1 "^zel-listen: sound input found"

"$encode" --preamble 600 -o "$work/traffic.wav" "SMS>AFTER A WAIT"
paplay "$work/traffic.wav"
wait_until "the message" at_least "$work/stdout" 1 " SMS AFTER A WAIT$"

server=$(tr -dc 0-9 <"$work/pulse/runtime/pid")
kill -STOP "$server"
stopped=$SECONDS
wait_until "the loss" at_least "$work/stderr" 1 "^zel-listen: The sound input was lost.$"
echo "the loss reported within $((SECONDS - stopped)) s of the stop"
[ $((SECONDS - stopped)) -le 5 ] || fail "the loss was reported late"
kill -CONT "$server"
continued=$SECONDS
wait_until "the input back" at_least "$work/stderr" 1 "^zel-listen: sound input back"
echo "listening again within $((SECONDS - continued)) s of the continuation"
[ $((SECONDS - continued)) -le 5 ] || fail "listening again only late"
"$encode" --preamble 600 -o "$work/traffic.wav" "SMS>AFTER A STALL"
paplay "$work/traffic.wav"
wait_until "the message after the stall" at_least "$work/stdout" 1 " SMS AFTER A STALL"
stop_listener
[ "$(lines_in "$work/stderr")" -eq 4 ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: waited for the sound input, then received, also after a stall"
