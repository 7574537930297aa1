#!/usr/bin/env bash
# zel-listen --exec PROGRAM: each message reaches the program as the line --json writes,
# on its standard input. What the program prints goes to zel-listen's stderr, never
# among the messages on stdout, and it has nothing else of zel-listen's open (such as
# the sound server's socket). A program that fails is said once on stderr, however
# often it fails, and zel-listen goes on receiving.
#
# Usage: listen-runs-a-program.sh ZEL-LISTEN ZEL-ENCODE WORK-DIR
set -euo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/listen-common.sh"
listen=$1 encode=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
own_sound_server start

cat >"$work/alert" <<PROGRAM
#!/bin/sh
message=\$(cat)
printf '%s\n' "\$message" >>"$work/got"
ls /proc/self/fd >"$work/open"
echo "alert on stdout"
echo "alert on stderr" >&2
case \$message in *FAIL*) exit 3 ;; esac
PROGRAM
chmod +x "$work/alert"

"$listen" --json --exec "$work/alert" >"$work/stdout" 2>"$work/stderr" &
listener=$!
wait_until "the recording" recording
for text in 'SAY "HI"' 'FAIL ONE' 'FAIL TWO'; do
  "$encode" --preamble 600 -o "$work/traffic.wav" "SMS>$text"
  paplay "$work/traffic.wav"
done
wait_until "three runs" at_least "$work/got" 3
wait_until "the failure" at_least "$work/stderr" 1 "^zel-listen: alert program"
stop_listener

[ "$(sort "$work/got")" = "$(sort "$work/stdout")" ] && [ "$(lines_in "$work/stdout")" -eq 3 ] ||
  fail "the program got: $(cat "$work/got"); stdout: $(cat "$work/stdout")"
# (3: ls reading the directory.)
[ "$(echo $(cat "$work/open"))" = "0 1 2 3" ] || fail "open in the program: $(cat "$work/open")"
grep -q '"text":"SAY \\"HI\\"' "$work/got" || fail "the program got: $(cat "$work/got")"
[ "$(sort "$work/stderr" | uniq -c | sed 's/^ *//')" = "$(printf '%s\n' "3 alert on stderr" \
  "3 alert on stdout" "1 zel-listen: alert program '$work/alert': exited with status 3")" ] ||
  fail "stderr: $(cat "$work/stderr")"
echo "passed: each message through the program, its output on stderr, its failure said once"
