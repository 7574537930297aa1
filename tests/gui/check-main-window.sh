#!/usr/bin/env bash
# Run by run-under-xvfb.sh while the window is up: the window stays on top, carries
# the program's icon and opened centred on the screen.
set -euo pipefail
window=$ZEL_WINDOW_ID

# The icon can follow the mapping of the window by a moment.
has_icon() { xprop -id "$window" _NET_WM_ICON | grep -q 'Icon ('; }
deadline=$((SECONDS + ${ZEL_XVFB_TIMEOUT:-60}))
until has_icon; do
  [ $SECONDS -lt $deadline ] || { echo "the window has no icon" >&2; exit 1; }
  sleep 0.1
done

xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE ||
  { echo "the window is not kept on top" >&2; exit 1; }

read -r screen_width screen_height < <(xdotool getdisplaygeometry)
eval "$(xdotool getwindowgeometry --shell "$window")"
[ $((X * 2 + WIDTH)) -eq "$screen_width" ] && [ $((Y * 2 + HEIGHT)) -eq "$screen_height" ] ||
  { echo "the window at $X,$Y (${WIDTH}x$HEIGHT) is not centred" >&2; exit 1; }
