#!/bin/bash
# Compares zel-decode's whole-process CPU time (user + system) with multimon-ng's FMSFSK
# decoder (the same 1 200-baud FFSK), with only reading the recording in zel-decode's
# block size and with zel-decode --json (which adds a signal report to every message),
# on twenty minutes of continuous traffic; the programs take turns, RUNS
# rounds, and the medians are compared. Also peak resident memory on that recording and
# on one a tenth as long (it should not grow with the length), and the decoder core alone.
# Usage: bench/compare-multimon.sh [BUILD_DIR] [RUNS]   (defaults: build, 7)
set -euo pipefail

BUILD=${1:-build}
RUNS=${2:-7}
BIN=$BUILD/bin
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# 1 400 messages of 40 characters, each followed by 500 ms of silence: twenty minutes.
traffic() { # FILE COUNT
    local messages=()
    for ((i = 0; i < $2; i++)); do
        messages+=("SMS>$(printf 'message %04d of the ZEL benchmark ..' "$i")")
    done
    "$BIN/zel-encode" -o "$1" "${messages[@]}"
}
traffic "$WORK/traffic.wav" 1400
traffic "$WORK/short.wav" 140
"$BIN/zel-bench-to-raw" "$WORK/traffic.wav" "$WORK/traffic22050.raw" 22050
# Written in large blocks, as the WAV is: a file written a few KiB at a time (as tail
# does) sits in the page cache in small pieces and costs a third more to read.
dd if="$WORK/traffic.wav" of="$WORK/traffic.raw" bs=1M iflag=skip_bytes skip=44 status=none

measure() { # NAME COMMAND...: appends "cpu-seconds peak-KiB" to $WORK/NAME
    local name=$1
    shift
    # CPU from the child's rusage to the microsecond (/usr/bin/time rounds to 10 ms);
    # peak memory from /usr/bin/time, whose small image the child starts from.
    local cpu
    cpu=$(python3 -c '
import os, sys
out = os.open(sys.argv[1], os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
null = os.open(os.devnull, os.O_WRONLY)
pid = os.posix_spawnp(sys.argv[2], sys.argv[2:], os.environ,
                      file_actions=[(os.POSIX_SPAWN_DUP2, out, 1), (os.POSIX_SPAWN_DUP2, null, 2)])
_, _, usage = os.wait4(pid, 0)
print("%.4f" % (usage.ru_utime + usage.ru_stime))
' "$WORK/out.$name" "$@")
    /usr/bin/time -f %M -o "$WORK/time" "$@" >/dev/null 2>&1
    echo "$cpu $(cat "$WORK/time")" >>"$WORK/$name"
}
median() { # NAME COLUMN
    sort -n -k"$2" "$WORK/$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

for ((run = 0; run < RUNS; run++)); do
    measure zel "$BIN/zel-decode" "$WORK/traffic.wav"
    measure json "$BIN/zel-decode" --json "$WORK/traffic.wav"
    measure multimon multimon-ng -q -c -a FMSFSK -t raw "$WORK/traffic22050.raw"
    measure read "$BIN/zel-bench-read-file" "$WORK/traffic.wav"
    measure stdin sh -c 'exec "$0" - <"$1"' "$BIN/zel-decode" "$WORK/traffic.raw"
    measure short "$BIN/zel-decode" "$WORK/short.wav"
done

ratio() { echo "scale=3; $1 / $2" | bc; }
zel=$(median zel 1) multimon=$(median multimon 1) read=$(median read 1) stdin=$(median stdin 1)
json=$(median json 1)
audio=$(echo "scale=1; $(stat -c %s "$WORK/traffic.raw") / 2 / 48000" | bc)
echo "audio: ${audio} s, 1400 messages sent, $(wc -l <"$WORK/out.zel") decoded by zel-decode"
echo "CPU (user+sys), median of $RUNS alternated runs:"
echo "  zel-decode WAV:            ${zel} s"
echo "  zel-decode - (raw stdin):  ${stdin} s"
echo "  zel-decode --json WAV:     ${json} s (with each message's signal report)"
echo "  multimon-ng FMSFSK 22 kHz: ${multimon} s"
echo "  reading the WAV (262 KiB): ${read} s"
echo "ratio zel-decode / multimon-ng: $(ratio "$zel" "$multimon")"
echo "ratio zel-decode / reading:     $(ratio "$zel" "$read")"
echo "ratio --json / plain:           $(ratio "$json" "$zel")"
echo "peak RSS of zel-decode: $(median zel 2) KiB on ${audio} s, $(median short 2) KiB on a tenth of it"
if [[ -x $BIN/bench_receiver ]]; then
    "$BIN/bench_receiver" --benchmark_filter=DecodeContinuousTraffic 2>/dev/null |
        awk '/^Decode/ { print "decoder core, " $1 ": " $NF }'
fi
