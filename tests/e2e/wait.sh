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
