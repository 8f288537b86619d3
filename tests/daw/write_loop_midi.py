#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Writes the Ardour test's note loop, played twice, as a format-0 Standard MIDI File at the
# default tempo (120 bpm, 480 ticks a quarter), so that kvx render --midi plays the instrument
# the notes jack_midiseq sends. Usage: write_loop_midi.py OUT.mid SAMPLES_PER_TICK
#   START KEY LENGTH [START KEY LENGTH ...] LOOP  (all in samples, multiples of a tick)
import struct
import sys


def variable_length(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def main():
    out, per_tick, *numbers = sys.argv[1:]
    per_tick = int(per_tick)
    numbers = [int(n) for n in numbers]
    loop = numbers.pop()
    events = []
    for pass_start in (0, loop):
        for i in range(0, len(numbers), 3):
            start, key, length = numbers[i:i + 3]
            for sample in (pass_start + start, pass_start + start + length):
                if sample % per_tick:
                    sys.exit(f"write_loop_midi: sample {sample} is not on a tick")
            events.append(((pass_start + start) // per_tick, 1, bytes([0x90, key, 64])))
            events.append(((pass_start + start + length) // per_tick, 0, bytes([0x80, key, 0])))
    events.sort()
    body, now = b"", 0
    for tick, _, message in events:
        body += variable_length(tick - now) + message
        now = tick
    body += b"\x00\xff\x2f\x00"
    with open(out, "wb") as file:
        file.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480))
        file.write(b"MTrk" + struct.pack(">I", len(body)) + body)


main()
