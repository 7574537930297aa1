#!/usr/bin/env bash
# The whole program on a private display, ended by termination signals while its window
# is up: each one alone closes it as the user would (exit code 0, nothing printed); a
# second one before that end is done ends it at once, as the signal's default would
# (128 + its number).
#
# Usage: signals-under-xvfb.sh PROGRAM WORK-DIR
set -euo pipefail

here=$(dirname "$(realpath "$0")")
program=$1
work=$2
run() { ZEL_CLOSE_WINDOW=$here/terminate-window.sh "$here/../gui/run-under-xvfb.sh" "$program" "$@"; }

for signal in TERM INT HUP; do
  ZEL_SIGNALS=$signal run "$work/$signal"
done
for pair in "TERM INT" "INT HUP" "HUP TERM"; do
  read -r first second <<<"$pair"
  # Whichever is taken second ends it.
  ZEL_SIGNALS=$pair ZEL_XVFB_EXIT_CODES="$((128 + $(kill -l "$first"))) $((128 + $(kill -l "$second")))" \
    run "$work/$first-$second"
done
echo "passed: each signal closes the window; a second one ends the program at once"
