#!/usr/bin/env bash
# Run by run-under-xvfb.sh before the window appears: waits for the program's error box
# and, while it is up, ends the program with SIGTERM, as a session that ends does.
set -euo pipefail
# shellcheck source=wait.sh
source "$(dirname "$0")/wait.sh"

wait_until "the error box" error_box_shown
kill -TERM "$ZEL_PROGRAM_PID"
