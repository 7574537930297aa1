#!/usr/bin/env bash
# The demodulator as a desktop user chooses it, with a configuration folder of the
# test's own: a damaged settings file opens the window as ever, silently, and stays as it
# was; choosing Matched (weak signals) in the log's context menu keeps the choice; the
# next start then receives a message at 8 dB SNR, which zero crossings miss.
#
# Usage: choose-demodulator-under-xvfb.sh PROGRAM ENCODER WORK-DIR
#   ENCODER is zel-encode; the private sound server's client environment is set.
set -euo pipefail

here=$(dirname "$(realpath "$0")")
program=$1
encoder=$2
work=$3
run=$here/../gui/run-under-xvfb.sh

rm -rf "$work"
mkdir -p "$work"
export XDG_CONFIG_HOME=$work/config ZEL_SHOTS=$work
export ZEL_SETTINGS=$XDG_CONFIG_HOME/zeltextreceiver/ZELTextReceiver.conf
fail() { echo "FAILED: $*" >&2; exit 1; }

mkdir -p "$(dirname "$ZEL_SETTINGS")"
# Bytes that are no text, and a value that makes Qt warn as it reads it.
printf '\377\376[[[\ndemodulator=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1X)\n' >"$ZEL_SETTINGS"
cp "$ZEL_SETTINGS" "$work/damaged.conf"
"$run" "$program" "$work/damaged"
cmp -s "$ZEL_SETTINGS" "$work/damaged.conf" || fail "the damaged settings file was changed"

rm "$ZEL_SETTINGS"
"$run" "$program" "$work/choose" "$here/choose-matched.sh"

# A long preamble: the sound server loses the first moments of a new playback stream.
"$encoder" --preamble 600 --snr 8 --seed 1 -o "$work/weak.wav" "SMS>WEAK SIGNAL" "LOC>4807N01134E"
ZEL_RECORDING=$work/weak.wav "$run" "$program" "$work/restart" "$here/while-receiving.sh"
echo "passed: damaged settings ignored; Matched chosen, kept and used at the next start"
