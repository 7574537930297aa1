#!/usr/bin/env bash
# The receiver started where no window can be shown (its display is not there) says so in
# one line and ends with an error, instead of ending without a word.
#
# Usage: without-display.sh PROGRAM
set -uo pipefail

program=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

DISPLAY=:65000 QT_QPA_PLATFORM=xcb PULSE_SERVER=unix:"$scratch/no-server" \
  "$program" >"$scratch/stdout" 2>"$scratch/stderr"
status=$?

fail() {
  echo "FAILED: $*" >&2
  cat "$scratch/stderr" >&2
  exit 1
}
[ "$status" -ne 0 ] || fail "exit code 0"
[ ! -s "$scratch/stdout" ] || fail "the program wrote to stdout"
[ "$(wc -l <"$scratch/stderr")" -eq 1 ] || fail "not one line on stderr"
grep -q '^ZELTextReceiver: .' "$scratch/stderr" || fail "the line does not name the program"
echo "passed: exit code $status, $(cat "$scratch/stderr")"
