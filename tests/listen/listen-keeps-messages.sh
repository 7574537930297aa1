#!/usr/bin/env bash
# zel-listen --store as a user meets it: another program's database is refused and
# left as it was; each message shown is in the store even after kill -9, and the next
# start goes on with the next id; the README's queries answer from the sqlite3 shell.
#
# Usage: listen-keeps-messages.sh ZEL-LISTEN ZEL-ENCODE WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
store=$work/messages.db
listener=
trap 'kill $listener 2>/dev/null || true' EXIT

sqlite3 "$work/other.db" "CREATE TABLE notes (line TEXT); INSERT INTO notes VALUES ('mine')"
cp "$work/other.db" "$work/other.before"
code=0
"$listen" --store "$work/other.db" >"$work/stdout" 2>"$work/stderr" || code=$?
[ $code -eq 2 ] && [ "$(cat "$work/stderr")" = \
  "zel-listen: $work/other.db is another program's database, not a message store" ] ||
  fail "another program's database: status $code, $(cat "$work/stderr")"
cmp -s "$work/other.db" "$work/other.before" || fail "another program's database was changed"

recording() { [ -n "$(pactl list short source-outputs)" ]; }

# listen_until_shown TEXT MESSAGE: a new listener on the store, and MESSAGE played until
# its line (ending in TEXT) is shown.
listen_until_shown() {
  "$listen" --store "$store" >>"$work/stdout" 2>>"$work/stderr" &
  listener=$!
  wait_until "the recording" recording
  "$encode" --preamble 600 -o "$work/sound.wav" "$2"
  paplay "$work/sound.wav"
  wait_until "$2 shown" at_least "$work/stdout" 1 " $1\$"
}
: >"$work/stdout" && : >"$work/stderr"
listen_until_shown "SMS FIRST       " "SMS>FIRST"
kill -KILL "$listener"
wait "$listener" 2>/dev/null || true
wait_until "the end of the recording" eval '! recording'
listen_until_shown "LOC 52N " "LOC>52N"
stop_listener

# The README's queries.
[ "$(sqlite3 "$store" "SELECT id, kind, CAST(text AS TEXT) FROM messages ORDER BY id")" = \
  "$(printf '%s\n' "1|SMS|FIRST       " "2|LOC|52N ")" ] || fail "stored: $(sqlite3 "$store" .dump)"
[ "$(sqlite3 "$store" "SELECT m.id, CAST(m.text AS TEXT) FROM message_search('\"IRST\"') AS s
                        JOIN messages AS m ON m.id = s.rowid ORDER BY s.rowid DESC")" = "1|FIRST       " ] ||
  fail "the text search"
sqlite3 "$store" "SELECT strftime('%Y-%m-%dT%H:%M:%fZ', time / 1e9, 'unixepoch') FROM messages" |
  grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{12}Z$' || fail "the times"
[ ! -s "$work/stderr" ] || fail "stderr: $(cat "$work/stderr")"
echo "passed: another program's database refused, every message shown kept through kill -9"
