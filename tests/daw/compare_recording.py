#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Compares a recording of an instrument with its reference render: aligned on the first
onset, every channel of the recording must be the reference times one gain, to the rounding of
32-bit samples.

Usage: compare_recording.py RECORDING.wav REFERENCE.wav WINDOW EXPECTED_GAIN ONSET...

The reference renders the loop's notes twice over; ONSET lists the frames of its notes of the
first pass (the loop may reach the track at any of them). The recording's first nonzero sample
is aligned with the reference's first nonzero sample from each ONSET in turn, the best fit is
kept, and WINDOW frames from there are compared. jack_rec writes 32-bit integer PCM, which holds
a float exactly down to 2^-8 and to 2^-32 below it: the tolerance is a few float ulps plus that.
"""
import array
import math
import struct
import sys


def read_wav(path):
    """The channels of a WAV file of 32-bit integer or float samples, as lists of floats."""
    with open(path, "rb") as file:
        data = file.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a WAV file")
    position, kind, channels, samples = 12, None, 0, None
    while position + 8 <= len(data):
        name, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        body = data[position + 8:position + 8 + size]
        if name == b"fmt ":
            kind, channels, _, _, _, bits = struct.unpack("<HHIIHH", body[:16])
            if kind == 0xFFFE:
                kind = struct.unpack("<H", body[24:26])[0]
            if bits != 32 or kind not in (1, 3):
                sys.exit(f"{path}: not 32-bit integer or float samples")
        elif name == b"data":
            samples = array.array("f" if kind == 3 else "i", body)
        position += 8 + size + (size & 1)
    if samples is None or channels == 0:
        sys.exit(f"{path}: no samples")
    scale = 1.0 if kind == 3 else 2.0 ** -31
    return [[value * scale for value in samples[channel::channels]] for channel in range(channels)]


def first_nonzero(samples, start=0):
    return next((i for i in range(start, len(samples)) if samples[i] != 0.0), None)


def ulp32(value):
    """The spacing of 32-bit floats at value (normal range)."""
    return 2.0 ** (math.frexp(max(abs(value), 2.0 ** -126))[1] - 24)


def compare(recorded, reference, window):
    """(gain, worst deviation in tolerances, frame of the worst) of recorded against reference."""
    numerator = sum(r * x for r, x in zip(recorded, reference))
    energy = sum(x * x for x in reference)
    gain = numerator / energy if energy else 0.0
    worst, worst_frame = 0.0, 0
    for frame, (r, x) in enumerate(zip(recorded, reference)):
        tolerance = 4 * ulp32(gain * x) + 2.0 ** -32
        if abs(r - gain * x) / tolerance > worst:
            worst, worst_frame = abs(r - gain * x) / tolerance, frame
    return gain, worst, worst_frame


def main():
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    recording, reference = read_wav(sys.argv[1]), read_wav(sys.argv[2])[0]
    window, expected_gain = int(sys.argv[3]), float(sys.argv[4])
    onsets = [int(value) for value in sys.argv[5:]]
    failed = False
    for channel, recorded in enumerate(recording):
        start = first_nonzero(recorded)
        if start is None:
            sys.exit(f"channel {channel + 1}: the recording is silent")
        if start + window > len(recorded):
            sys.exit(f"channel {channel + 1}: the first note starts at frame {start}, too late for "
                     f"{window} frames of comparison in {len(recorded)}")
        fits = []
        for onset in onsets:
            begin = first_nonzero(reference, onset)
            fits.append(compare(recorded[start:start + window], reference[begin:begin + window], window)
                        + (onset,))
        gain, worst, frame, onset = min(fits, key=lambda fit: fit[1])
        peak = max(abs(value) for value in recorded[start:start + window])
        print(f"channel {channel + 1}: first onset at frame {start} (the note at {onset}), peak {peak:.6f}, "
              f"gain {gain:.9f} ({20 * math.log10(gain) if gain > 0 else float('-inf'):.6f} dB), "
              f"worst deviation {worst:.3f} of the tolerance at frame {frame} of {window}")
        if abs(gain - expected_gain) > 1e-3:
            print(f"channel {channel + 1}: gain {gain:.9f} is not {expected_gain:.9f}")
            failed = True
        if worst > 1.0:
            r, x = recorded[start + frame], reference[first_nonzero(reference, onset) + frame]
            print(f"channel {channel + 1}: frame {frame} recorded {r!r}, reference {x!r} x gain = {gain * x!r}")
            failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
