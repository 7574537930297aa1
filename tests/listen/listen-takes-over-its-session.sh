#!/usr/bin/env bash
# zel-listen connects with the same client id at every start: a second one of the same
# station takes the broker's session over from a first one frozen mid-connection (SIGSTOP:
# its socket open, silent), and the retained status reads "online" from then on, also
# after the first one's keep-alive has run out; the first one's will ("offline") never
# comes after the second one's "online". Both wait for a sound input that is not there: only MQTT matters here.
#
# Usage: listen-takes-over-its-session.sh ZEL-LISTEN BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 broker=$2 work=$3
port=$(cat "$broker/port")
station=takeover$$
rm -rf "$work" && mkdir -p "$work"
own_sound_server config

mosquitto_sub -h 127.0.0.1 -p "$port" -t "zel/$station/status" >"$work/statuses" 2>/dev/null &
subscriber=$!
start_listener() { "$listen" --quiet --station "$station" --mqtt "mqtt://127.0.0.1:$port/zel" 2>"$work/$1" & }
start_listener first
first=$!
trap 'kill -KILL $first 2>/dev/null || true; kill $subscriber $listener 2>/dev/null || true' EXIT
wait_until "the first online" at_least "$work/statuses" 1 "^online$"
kill -STOP $first
frozen=$SECONDS
start_listener second
listener=$!
wait_until "the second online" at_least "$work/statuses" 2 "^online$"

# A broker gives up a silent connection one and a half keep-alives (30 s) after its last
# packet; that was before the freeze.
sleep $((frozen + 47 - SECONDS))
{ kill -KILL $first && wait $first; } 2>/dev/null || true
[ "$(status_of "$port" "$station")" = online ] || fail "the retained status is not online"
# The broker may send the will of the connection it drops at the takeover, now and then
# before the new one's "online"; never after it.
grep -Pzq '^online\n(offline\n)?online\n$' "$work/statuses" || fail "statuses: $(cat "$work/statuses")"
! grep -q MQTT "$work/second" || fail "the second one: $(cat "$work/second")"
echo "passed: the session taken over, the status online throughout"
