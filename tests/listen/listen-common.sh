# shellcheck shell=bash
# Sourced by the zel-listen tests (after setting $here): waiting, checking, the status.

# wait_until WHAT COMMAND...: as the window's end-to-end tests wait.
source "$here/../e2e/wait.sh"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

lines_in() { grep -c "${2:-.}" "$1" || true; }
at_least() { [ "$(lines_in "$1" "${3:-.}")" -ge "$2" ]; }

# Something records from the sound server (the listener, once it listens).
recording() { [ -n "$(pactl list short source-outputs)" ]; }

# SIGTERM ends the listener ($listener) with status 0.
stop_listener() {
  kill -TERM "$listener"
  local code=0
  wait "$listener" || code=$?
  [ $code -eq 0 ] || fail "exit status $code after SIGTERM"
}

# The retained status of a station, as a new subscriber sees it.
status_of() {
  mosquitto_sub -h 127.0.0.1 -p "$1" "${@:3}" -t "zel/$2/status" -C 1 -W 5 2>/dev/null
}

# The signal report's fields at the end of a message's JSON, as a pattern.
report_fields='"level_dbfs":-?[0-9.]+,"snr_db":-?[0-9.]+,"snr_lower_bound":(true|false),"offset_hz":-?[0-9.]+,"shift_hz":[0-9.]+,"clock_ppm":-?[0-9]+,"confidence":[0-9.]+,"clipped":(true|false)'

# A JSON line of zel-listen: the message with its UTC time to the millisecond, and its
# signal report.
json_pattern() {
  printf '^{"time":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z","kind":"%s","text":"%s","station":"%s",%s}$' "$@" "$report_fields"
}

# A sound server of the script's own in $work/pulse, for the clients of the script:
# "config" only points them at it (it is not there yet), "start" starts it too. It
# stops when the script ends, after the listener ($listener, once started).
own_sound_server() {
  pulse=$here/../alsa/private-pulse.sh
  bash "$pulse" "$1" "$work/pulse"
  eval "$(bash "$pulse" env "$work/pulse")"
  listener=
  trap 'kill $listener 2>/dev/null || true; bash "$pulse" stop "$work/pulse"' EXIT
}
