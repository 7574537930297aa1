#!/usr/bin/env python3
"""Decodes a random corpus with two builds of zel-decode and fails on any output byte
that differs: a check that a faster decoder still decodes exactly as before.

usage: bench/compare-outputs.py REFERENCE_BUILD NEW_BUILD [CASES] [SEED]

The corpus: zel-encode traffic of random messages (any byte), preambles, gaps and
amplitudes, through random radio channels, stored as 16-bit mono, stereo, 24-bit and
float WAV at several rates and as raw samples on stdin; plus pure noise and silence, and
the damaged recordings the tests keep.
Every recording is decoded plainly, with --events, with --timestamps and with the
matched demodulator."""

import os
import random
import struct
import subprocess
import sys
import tempfile

RATES = [48000, 48000, 48000, 44100, 22050, 8000, 96000]
LAYOUTS = ["mono16", "mono16", "chunks16", "stereo16", "mono24", "float", "raw"]
DECODE_OPTIONS = [[], ["--events"], ["--timestamps"], ["--events", "--timestamps"],
                  ["--demodulator", "matched", "--events", "--timestamps"]]


def random_message(rng):
    header = rng.choice(["SMS>", "LOC>"])
    length = rng.choice([0, 1, 4, 7, 8, 12, 40, rng.randint(0, 200)])
    if rng.random() < 0.5:
        body = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz ;(0123456789") for _ in range(length))
    else:
        body = "".join("\\x%02x" % rng.randint(0, 255) for _ in range(length))
    return header + body


def channel_options(rng):
    options = []
    if rng.random() < 0.7:
        options += ["--snr", "%.1f" % rng.uniform(-5, 40)]
    for name, low, high in [("--clock", -2, 2), ("--tone-offset", -100, 100),
                            ("--shift", -150, 150), ("--twist", -10, 10),
                            ("--dc", -0.3, 0.3), ("--hum", -40, 0)]:
        if rng.random() < 0.3:
            options += [name, "%.3f" % rng.uniform(low, high)]
    for flag in ["--band-noise", "--deemphasis"]:
        if rng.random() < 0.3:
            options.append(flag)
    return options + ["--seed", str(rng.randint(0, 2**32 - 1))]


def encode(build, rng, path):
    messages = [random_message(rng) for _ in range(rng.randint(1, 6))]
    command = [os.path.join(build, "bin", "zel-encode"), "-o", path,
               "--amplitude", "%.3f" % rng.uniform(0.02, 1.0),
               "--preamble", str(rng.choice([0, 8, 16, 32, 200])),
               "--gap", str(rng.choice([0, 10, 200, 500, 1500]))]
    command += channel_options(rng) + ["--"] + messages
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def read_wav_samples(path):
    with open(path, "rb") as wav:
        data = wav.read()
    offset = data.index(b"data") + 8
    count = (len(data) - offset) // 2
    return list(struct.unpack("<%dh" % count, data[offset:offset + 2 * count]))


def resample(samples, rate):
    """Linear interpolation: only a plausible other-rate recording is needed."""
    if rate == 48000:
        return samples
    step = 48000 / rate
    result, position = [], 0.0
    while position < len(samples) - 1:
        index = int(position)
        fraction = position - index
        result.append(samples[index] * (1 - fraction) + samples[index + 1] * fraction)
        position += step
    return result


def clip16(value):
    return max(-32768, min(32767, int(round(value))))


def wav_bytes(frames, rate, channels, format_tag, width, extra=False):
    """With extra: an odd-sized chunk before the samples, and one after them."""
    body = b"".join(frames)
    block = channels * width
    before = b"LIST" + struct.pack("<I", 5) + b"INFO!\0" if extra else b""
    after = b"junk" + struct.pack("<I", 4) + b"\1\2\3\4" if extra else b""
    header = struct.pack("<4sI4s4sIHHIIHH", b"RIFF", 36 + len(before + body + after), b"WAVE",
                         b"fmt ", 16, format_tag, channels, rate, rate * block, block, width * 8)
    return header + before + b"data" + struct.pack("<I", len(body)) + body + after


def store(samples, rate, layout, path):
    if layout == "raw":
        data = struct.pack("<%dh" % len(samples), *[clip16(s) for s in samples])
    elif layout == "mono16":
        data = wav_bytes([struct.pack("<h", clip16(s)) for s in samples], rate, 1, 1, 2)
    elif layout == "chunks16":
        data = wav_bytes([struct.pack("<h", clip16(s)) for s in samples], rate, 1, 1, 2, True)
    elif layout == "stereo16":
        data = wav_bytes([struct.pack("<hh", clip16(-s / 2), clip16(s)) for s in samples],
                         rate, 2, 1, 2)
    elif layout == "mono24":
        data = wav_bytes([struct.pack("<i", clip16(s) * 256)[:3] for s in samples], rate, 1, 1, 3)
    else:
        data = wav_bytes([struct.pack("<f", s / 32768.0) for s in samples], rate, 1, 3, 4)
    with open(path, "wb") as output:
        output.write(data)


def decode(build, path, layout, options):
    command = [os.path.join(build, "bin", "zel-decode")] + options
    if layout == "stereo16":
        command += ["--channel", "2"]
    if layout == "raw":
        with open(path, "rb") as stdin:
            result = subprocess.run(command + ["-"], stdin=stdin, capture_output=True)
    else:
        result = subprocess.run(command + [path], capture_output=True)
    return result.returncode, result.stdout, result.stderr


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    reference, new = sys.argv[1], sys.argv[2]
    cases = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    failures = decodes = lines = messages = 0
    with tempfile.TemporaryDirectory() as work:
        encoded, stored = os.path.join(work, "encoded.wav"), os.path.join(work, "case")
        for case in range(cases):
            kind = rng.random()
            if kind < 0.05:
                samples = [rng.gauss(0, rng.choice([1, 100, 3000, 30000])) for _ in
                           range(rng.randint(0, 200000))]
            elif kind < 0.07:
                samples = [0] * rng.randint(0, 100000)
            else:
                encode(reference, rng, encoded)
                samples = read_wav_samples(encoded)
            rate = rng.choice(RATES)
            layout = "raw" if rate == 48000 and rng.random() < 0.15 else rng.choice(LAYOUTS)
            if layout == "raw":
                rate = 48000
            if kind >= 0.07 and layout == "mono16" and rate == 48000 and rng.random() < 0.5:
                os.replace(encoded, stored)  # as zel-encode wrote it
            else:
                store(resample(samples, rate), rate, layout, stored)
            for options in DECODE_OPTIONS:
                before = decode(reference, stored, layout, options)
                after = decode(new, stored, layout, options)
                decodes += 1
                lines += before[1].count(b"\n")
                messages += sum(1 for line in before[1].splitlines()
                                if not line.startswith((b"bits ", b"level ")))
                if before != after:
                    failures += 1
                    kept = os.path.join(tempfile.gettempdir(), "compare-outputs-%d" % case)
                    os.replace(stored, kept)
                    print("DIFFERENT: case %d (%s, %d Hz) %s -> %s" %
                          (case, layout, rate, " ".join(options), kept))
                    break
        kept = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools",
                            "fuzz-cases")
        for name in sorted(os.listdir(kept)):
            for options in DECODE_OPTIONS:
                path = os.path.join(kept, name)
                decodes += 1
                if decode(reference, path, "", options) != decode(new, path, "", options):
                    failures += 1
                    print("DIFFERENT: %s %s" % (name, " ".join(options)))
    print("%d recordings, %d decodes, %d output lines (%d messages) compared, %d different" %
          (cases, decodes, lines, messages, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
