#!/bin/bash
# Compares the whole-process decoding time of zel-decode with multimon-ng's FMSFSK
# decoder (the same 1 200-baud FFSK) on the same ten minutes of continuous traffic.
# Usage: bench/compare-multimon.sh [BUILD_DIR]   (default: build)
set -euo pipefail

BUILD=${1:-build}
BIN=$BUILD/bin
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# 700 messages of 40 characters, each followed by 500 ms of silence: over ten minutes.
messages=()
for ((i = 0; ${#messages[@]} < 700; i++)); do
    messages+=("SMS>$(printf 'message %04d of the ZEL benchmark ..' "$i")")
done
"$BIN/zel-encode" -o "$WORK/traffic.wav" "${messages[@]}"
"$BIN/zel-bench-to-raw" "$WORK/traffic.wav" "$WORK/traffic22050.raw" 22050

seconds() { # best wall-clock time of three runs of the command, in seconds
    local best=
    for _ in 1 2 3; do
        /usr/bin/time -f %e -o "$WORK/time" "$@" >"$WORK/out" 2>/dev/null
        local t; t=$(cat "$WORK/time")
        if [[ -z $best ]] || (($(echo "$t < $best" | bc))); then best=$t; fi
    done
    echo "$best"
}

audio=$(echo "scale=1; $(stat -c %s "$WORK/traffic22050.raw") / 2 / 22050" | bc)
zel=$(seconds "$BIN/zel-decode" "$WORK/traffic.wav")
found=$(wc -l <"$WORK/out")
multimon=$(seconds multimon-ng -q -t raw -a FMSFSK "$WORK/traffic22050.raw")

echo "audio: ${audio} s, ${#messages[@]} messages sent, ${found} decoded by zel-decode"
echo "zel-decode:           ${zel} s"
echo "multimon-ng FMSFSK:   ${multimon} s"
printf "ratio zel/multimon:   %.2f\n" "$(echo "scale=4; $zel / $multimon" | bc)"
