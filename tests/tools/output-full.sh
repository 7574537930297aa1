#!/usr/bin/env bash
# A tool whose output takes no more (here a full disk) says so in one line and ends
# with status 1, not the 2 that stands for bad arguments.
#
# Usage: output-full.sh ZEL-DECODE ZEL-ENCODE
set -uo pipefail
decode=$1 encode=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$encode" -o "$scratch/message.wav" 'SMS>hello' || exit 1
failed=0

# expect PROGRAM [ARGUMENT]...: run with its stdout on /dev/full.
expect() {
  "$@" >/dev/full 2>"$scratch/stderr"
  local status=$? name
  name=$(basename "$1")
  if [ $status -ne 1 ] || [ "$(wc -l <"$scratch/stderr")" -ne 1 ] ||
    ! grep -q "^$name: .*: No space left on device$" "$scratch/stderr"; then
    echo "FAILED: $name: exit code $status, stderr: $(cat "$scratch/stderr")" >&2
    failed=1
  fi
}

expect "$decode" "$scratch/message.wav"
expect "$encode" 'SMS>hello'
[ $failed -eq 0 ] && echo "passed: a full output told in one line, exit code 1"
exit $failed
