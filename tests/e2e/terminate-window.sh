#!/usr/bin/env bash
# Ends the program that owns the window with SIGTERM, as a session that ends does.
# Usage: terminate-window.sh WINDOW-ID
set -euo pipefail
kill -TERM "$(xdotool getwindowpid "$1")"
