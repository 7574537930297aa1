# shellcheck shell=bash
# Sourced by the scripts that run while the program is on the private display.

deadline=$((SECONDS + ${ZEL_XVFB_TIMEOUT:-60}))

# Waits until the command succeeds, checking every tenth of a second; exits on time-out.
wait_until() {
  local what=$1
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || { echo "timed out waiting for $what" >&2; exit 1; }
    sleep 0.1
  done
}

# Saves a window to a file once it is painted (a window mapped but not yet painted is a
# single colour).
painted_shot() {
  import -window "$1" "$2" 2>/dev/null && [ "$(identify -format %k "$2")" -gt 2 ]
}

# The program's error boxes on the display (their caption is the application title).
error_boxes() { xdotool search --onlyvisible --name '^Zeltextreceiver$' 2>/dev/null || true; }

# Whether the program, ZEL_PROGRAM_PID, shows an error box; exits when it has ended.
error_box_shown() {
  kill -0 "$ZEL_PROGRAM_PID" 2>/dev/null || { echo "the program ended without an error box" >&2; exit 1; }
  [ -n "$(error_boxes)" ]
}
