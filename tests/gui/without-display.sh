#!/usr/bin/env bash
# The receiver started where no window can be shown (no display named, or the one named
# not there) says so in one line naming the variable to look at, and ends with status 1,
# without writing anything else.
#
# Usage: without-display.sh PROGRAM
set -uo pipefail

program=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# expect LINE [VARIABLE=VALUE]...: the program in a session with only these variables
# of the display's (XDG_RUNTIME_DIR holds no Wayland socket).
expect() {
  local line=$1
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM \
    XDG_RUNTIME_DIR="$scratch" PULSE_SERVER=unix:"$scratch/no-server" "$@" \
    "$program" >"$scratch/stdout" 2>"$scratch/stderr"
  local status=$?
  if [ $status -ne 1 ] || [ -s "$scratch/stdout" ] || [ "$(cat "$scratch/stderr")" != "$line" ]; then
    echo "FAILED with $*: exit code $status, stderr: $(cat "$scratch/stderr")" >&2
    failed=1
  fi
}

no_display='ZELTextReceiver: cannot open the display:'
expect "$no_display DISPLAY is not set; WAYLAND_DISPLAY is not set"
expect "$no_display DISPLAY is not set" QT_QPA_PLATFORM=xcb
expect "$no_display no connection to ':65000' (DISPLAY)" DISPLAY=:65000 QT_QPA_PLATFORM=xcb
expect "$no_display no connection to 'gone-0' (WAYLAND_DISPLAY)" WAYLAND_DISPLAY=gone-0 \
  QT_QPA_PLATFORM=wayland
[ $failed -eq 0 ] && echo "passed: each missing display told in one line, exit code 1"
exit $failed
