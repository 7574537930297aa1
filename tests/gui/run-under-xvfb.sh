#!/usr/bin/env bash
# Runs the receiver program as a whole process on a private virtual display: waits for
# its window "ZEL Text Receiver", optionally runs a command while the window is up,
# saves a screenshot, closes the window politely (WM_DELETE_WINDOW) and checks that the
# program ended with exit code 0 and printed nothing.
#
# Usage: run-under-xvfb.sh PROGRAM OUTPUT-DIR [COMMAND ARGS...]
#   COMMAND runs while the window is up, with DISPLAY set and ZEL_WINDOW_ID holding the
#   window's id; the test fails when it fails.
# Leaves in OUTPUT-DIR: main-window.png (the window after COMMAND), stdout.txt,
# stderr.txt. The program inherits the environment, so a test can point it at its own
# sound set-up (ALSA_CONFIG_PATH, PULSE_SERVER, ...).
# Environment: ZEL_CLOSE_WINDOW, the WM_DELETE_WINDOW sender (default: zel-close-window
# next to PROGRAM); ZEL_XVFB_TIMEOUT, seconds allowed for each wait (default 60);
# ZEL_XVFB_BEFORE_WINDOW, a command run once the program has started, before its window
# is awaited (to answer a message box, say), with DISPLAY set and ZEL_PROGRAM_PID holding
# the program's process id; the test fails when it fails. ZEL_XVFB_ENDS_BEFORE_WINDOW set:
# that command ends the program, which must then end well without showing its window.
# ZEL_XVFB_EXIT_CODES, the exit codes of a good end (default: 0). ZEL_XVFB_ARGUMENTS, the
# program's arguments, split at spaces (default: none).
set -euo pipefail

program=$(realpath "$1")
out=$2
shift 2
close_window=${ZEL_CLOSE_WINDOW:-$(dirname "$program")/zel-close-window}
limit=${ZEL_XVFB_TIMEOUT:-60}
title="ZEL Text Receiver"

mkdir -p "$out"
rm -f "$out/main-window.png" "$out/stdout.txt" "$out/stderr.txt"
scratch=$(mktemp -d)
xvfb_pid=
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  for log in stdout stderr; do
    if [ -s "$out/$log.txt" ]; then
      echo "--- program $log:" >&2
      cat "$out/$log.txt" >&2
    fi
  done
  exit 1
}

# Waits until the command succeeds, checking every tenth of a second.
wait_until() {
  local what=$1
  shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
    sleep 0.1
  done
}

# A display of its own, at a random number far from the low ones: a display number that
# another test's server is just giving up (its sockets not yet removed) can leave a new
# server on it unreachable, and the program then fails to start. The server does not
# reset when its last client leaves (the check below is one): while it resets, it
# refuses the program's connection.
display_up() { xdpyinfo -display "$1" >/dev/null 2>&1; }
start_display() {
  local attempt number
  for attempt in 1 2 3 4 5 6 7 8; do
    number=$((200 + RANDOM % 3000))
    [ -e "/tmp/.X$number-lock" ] && continue
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -noreset >"$scratch/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local deadline=$((SECONDS + limit))
    while kill -0 "$xvfb_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
      display_up ":$number" && { DISPLAY=":$number"; return 0; }
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  fail "no virtual display could be started: $(cat "$scratch/xvfb.log")"
}
start_display
export DISPLAY
export QT_QPA_PLATFORM=xcb

read -ra arguments <<<"${ZEL_XVFB_ARGUMENTS:-}"
"$program" "${arguments[@]}" >"$out/stdout.txt" 2>"$out/stderr.txt" &
program_pid=$!

# Waits for the program to end; it must end with a good exit code and print nothing.
expect_good_end() {
  ended() { ! kill -0 "$program_pid" 2>/dev/null; }
  wait_until "the program to end" ended
  local status=0
  wait "$program_pid" || status=$?
  program_pid=
  [[ " ${ZEL_XVFB_EXIT_CODES:-0} " == *" $status "* ]] || fail "exit code $status"
  [ ! -s "$out/stdout.txt" ] || fail "the program wrote to stdout"
  [ ! -s "$out/stderr.txt" ] || fail "the program wrote to stderr"
}

if [ -n "${ZEL_XVFB_BEFORE_WINDOW:-}" ]; then
  ZEL_PROGRAM_PID=$program_pid "$ZEL_XVFB_BEFORE_WINDOW" ||
    fail "command before the window failed: $ZEL_XVFB_BEFORE_WINDOW"
fi
if [ -n "${ZEL_XVFB_ENDS_BEFORE_WINDOW:-}" ]; then
  expect_good_end
  echo "passed: ended before its window, a good exit code, no output"
  exit 0
fi

window_shown() {
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended before its window appeared"
  window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1) &&
    [ -n "$window" ]
}
wait_until "the window" window_shown
[ "$(xdotool getwindowname "$window")" = "$title" ] || fail "window title is not \"$title\""

if [ $# -gt 0 ]; then
  ZEL_WINDOW_ID=$window "$@" || fail "command failed: $*"
fi

# A window that is mapped but not yet painted is a single colour.
painted() {
  import -window "$window" "$scratch/shot.png" 2>/dev/null &&
    [ "$(identify -format %k "$scratch/shot.png")" -gt 2 ]
}
wait_until "the window to be painted" painted
cp "$scratch/shot.png" "$out/main-window.png"

"$close_window" "$window" || fail "could not ask the window to close"
expect_good_end
echo "passed: window shown, closed, a good exit code, no output; screenshot in $out/main-window.png"
