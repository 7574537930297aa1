#!/usr/bin/env bash
# Each installed manual page must name every option its program's --help shows, and
# man must read it without a warning.
set -euo pipefail
bindir=$1 mandir=$2
shift 2

# The options --help names: --long ones, and -x ones standing as words of their own.
options() {
    grep -oE -- '(^|[[:space:][(|,])(--[a-z][-a-z]*|-[a-zA-Z])\b' | sed -E 's/^[^-]+//' | sort -u
}

status=0
for program in "$@"; do
    page=$mandir/$program.1.gz
    warnings=$(MANWIDTH=80 man --warnings -E ascii -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$program.1: $warnings"; status=1; }
    text=$(MANWIDTH=200 man -E ascii -l "$page" 2>/dev/null | col -b)
    while read -r option; do
        grep -qE -- "(^|[^-a-zA-Z])$option([^-a-zA-Z]|$)" <<<"$text" ||
            { echo "$program.1 lacks $option"; status=1; }
    done < <(env -u DISPLAY -u WAYLAND_DISPLAY "$bindir/$program" --help | options)
done
exit $status
