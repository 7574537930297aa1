#!/usr/bin/env bash
# zel-listen with the broker's password kept out of its command line: given by a file
# or by ZEL_MQTT_PASSWORD, it lets the private broker's user "zel" in (the station says
# "online"); a wrong one is refused by the broker, which zel-listen tells in one line.
#
# Usage: listen-with-password.sh ZEL-LISTEN BROKER-DIR WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 broker=$2 work=$3
port=$(cat "$broker/port")
rm -rf "$work" && mkdir -p "$work"
echo wrong >"$work/wrong"
listener=
trap 'kill $listener 2>/dev/null || true' EXIT

# listen_as ROW ENVIRONMENT-PASSWORD [OPTION]...: as station ROW, in the background.
listen_as() {
  local row=$1 environment=$2
  shift 2
  ZEL_MQTT_PASSWORD=$environment "$listen" --quiet --station "$row$$" \
    --mqtt "mqtt://zel@127.0.0.1:$port/zel" "$@" 2>"$work/$row.stderr" &
  listener=$!
}
online() { [ "$(status_of "$port" "$1$$")" = online ]; }
ends_quietly() {
  kill -TERM "$listener" && wait "$listener" || fail "$1: exit status $?"
  [ ! -s "$work/$1.stderr" ] || fail "$1: $(cat "$work/$1.stderr")"
}

for row in file environment; do
  if [ $row = file ]; then
    listen_as $row '' --mqtt-password-file "$broker/password"
  else
    listen_as $row "$(cat "$broker/password")"
  fi
  wait_until "$row: online" online $row
  ends_quietly $row
done

listen_as wrong "$(cat "$broker/password")" --mqtt-password-file "$work/wrong"
wait_until "the refusal" at_least "$work/wrong.stderr" 1 "not authori[sz]ed"
[ "$(lines_in "$work/wrong.stderr")" -eq 1 ] || fail "wrong: $(cat "$work/wrong.stderr")"
echo "passed: the password from a file and from the environment; a wrong one refused"
