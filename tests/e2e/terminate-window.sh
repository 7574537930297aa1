#!/usr/bin/env bash
# Ends the program that owns the window with SIGTERM, as a session that ends does, or
# with the signals ZEL_SIGNALS names (TERM, INT, ...): several arrive together, sent
# while the program is stopped.
# Usage: terminate-window.sh WINDOW-ID
set -euo pipefail
pid=$(xdotool getwindowpid "$1")
read -r -a signals <<<"${ZEL_SIGNALS:-TERM}"
if [ ${#signals[@]} -eq 1 ]; then
  kill -"${signals[0]}" "$pid"
  exit 0
fi
kill -STOP "$pid"
for signal in "${signals[@]}"; do kill -"$signal" "$pid"; done
kill -CONT "$pid"
