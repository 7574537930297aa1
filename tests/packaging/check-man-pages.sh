#!/usr/bin/env bash
# Each installed manual page must be what help2man makes of the program as built now:
# a page that no longer says what --help and --version say fails.
set -euo pipefail
bindir=$1 mandir=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The page without its title line (it holds the date) and its one-line summary.
content() { awk '/^\.TH /{next} skip{skip=0; next} /^\.SH NAME/{skip=1} {print}'; }

status=0
for program in "$@"; do
    help2man --no-info --section=1 --name=- --output="$scratch/$program.1" "$bindir/$program"
    if ! diff <(zcat "$mandir/$program.1.gz" | content) <(content <"$scratch/$program.1"); then
        echo "manual page of $program differs from its --help"
        status=1
    fi
done
exit $status
