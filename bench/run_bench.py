#!/usr/bin/env python3
"""Runs kvx_bench (guards, then every case), and prints one table of medians and ratios computed
in that run. Writes the ratios, the figures and the machine to <results>/latest.json."""
import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
SAMPLE_RATE = 48000.0
NOTE_SECONDS = 350400 / SAMPLE_RATE
VOICE_PERIOD_SECONDS = 4.0
VOICE_COUNT = 1024


def machine():
    model = platform.processor() or platform.machine()
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True, check=True).stdout
        fields = dict(line.split(":", 1) for line in out.splitlines() if ":" in line)
        model = fields.get("Model name", model).strip()
        family = fields.get("CPU family", "").strip()
        if family:
            model += f" (family {family}, model {fields.get('Model', '').strip()})"
    except (OSError, subprocess.CalledProcessError):
        pass
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()
    return f"{model}, {os.cpu_count()} CPUs, {platform.system()} {platform.release()}, " + (compiler[0] if compiler else "")


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        ns = b["cpu_time"] * UNIT_NS[b["time_unit"]]
        runs.setdefault(b["run_name"], []).append((ns, b))
    return data["context"], runs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--repetitions", type=int, default=int(os.environ.get("KVX_BENCH_REPETITIONS", "7")))
    parser.add_argument("--min-time", default=os.environ.get("KVX_BENCH_MIN_TIME", "0.5"))
    parser.add_argument("--json", help="use an existing Google Benchmark JSON file instead of running")
    args = parser.parse_args()

    os.makedirs(args.results, exist_ok=True)
    raw = args.json or os.path.join(args.results, "raw.json")
    if not args.json:
        command = [args.bench, f"--benchmark_repetitions={args.repetitions}", f"--benchmark_min_time={args.min_time}",
                   f"--benchmark_out={raw}", "--benchmark_out_format=json",
                   # Repetitions of different cases interleave: load changes hit every case alike.
                   "--benchmark_enable_random_interleaving=true"]
        if subprocess.run(command).returncode != 0:
            sys.exit("kvx_bench failed (a guard or a benchmark); no table")

    context, runs = load(raw)

    def median(name):
        return statistics.median(ns for ns, _ in runs[name])

    def spread(name):
        times = [ns for ns, _ in runs[name]]
        return (max(times) - min(times)) / statistics.median(times)

    def counter(name, key):
        return statistics.median(b[key] for _, b in runs[name])

    note_moving = int(context["note_moving_samples"])
    voice_moving = int(context["voice_note_moving_samples"])

    floor = median("floor/moving") / 4096
    module = median("module/moving") / 4096
    moving_block = median("module/block64_moving")
    trigger_block = median("module/block64_trigger_gate")
    eight_block = median("module/block64_8_value_events")
    per_second = lambda name: median(name) / NOTE_SECONDS
    # The headline figures are our host library's (host::SleepingRunner); the lean host shows
    # what a host that keeps no output buffer of its own would pay.
    note_sleep = per_second("note/host_honouring_sleep")
    note_lean = per_second("note/lean_host_honouring_sleep")
    note_every = per_second("note/host_calling_every_block")
    juce_sample = per_second("peer/juce_getNextSample")
    juce_buffer = per_second("peer/juce_applyEnvelopeToBuffer")
    faust = per_second("peer/faust_adsre")
    perfect_note = floor * note_moving / NOTE_SECONDS
    voices_sleep = median("voices/1024_host_honouring_sleep") / VOICE_PERIOD_SECONDS
    voices_lean = median("voices/1024_lean_host_honouring_sleep") / VOICE_PERIOD_SECONDS
    voices_every = median("voices/1024_host_calling_every_block") / VOICE_PERIOD_SECONDS
    perfect_voices = floor * voice_moving * VOICE_COUNT / VOICE_PERIOD_SECONDS
    skipped = counter("voices/1024_host_honouring_sleep", "blocks_skipped_share")
    note_skipped = counter("note/host_honouring_sleep", "blocks_skipped_share")
    instance_bytes = int(context["instance_requested_bytes"])
    instance_usable = int(context["instance_bytes"])
    after = int(context["allocations_after_creation"])

    results = {
        "module_vs_floor": module / floor,
        "event_block_vs_moving_block": trigger_block / moving_block,
        "note_vs_perfect": note_sleep / perfect_note,
        "juce_per_sample_vs_note": juce_sample / note_sleep,
        "juce_buffer_vs_note": juce_buffer / note_sleep,
        "faust_vs_note": faust / note_sleep,
        "voices_vs_perfect": voices_sleep / perfect_voices,
        "note_lean_vs_perfect": note_lean / perfect_note,
        "voices_lean_vs_perfect": voices_lean / perfect_voices,
        "note_every_block_vs_note": note_every / note_sleep,
        "voices_every_block_vs_voices": voices_every / voices_sleep,
        "eight_value_block_vs_moving_block": eight_block / moving_block,
        "floor_ns_per_sample": floor,
        "module_ns_per_sample": module,
        "moving_block_ns": moving_block,
        "trigger_gate_block_ns": trigger_block,
        "trigger_gate_ns_per_event": (trigger_block - moving_block) / 2,
        "eight_value_block_ns": eight_block,
        "value_event_ns": (eight_block - moving_block) / 8,
        "note_ns_per_audio_second": note_sleep,
        "note_lean_ns_per_audio_second": note_lean,
        "voices_lean_ns_per_audio_second": voices_lean,
        "sleeping_host": "host::SleepingRunner: a sleeping module is not called and its output buffer keeps "
                         "the held value; *_lean_*: a host that does not look at the output at all",
        "perfect_note_ns_per_audio_second": perfect_note,
        "voices_ns_per_audio_second": voices_sleep,
        "perfect_voices_ns_per_audio_second": perfect_voices,
        "voices_blocks_skipped_share": skipped,
        "note_blocks_skipped_share": note_skipped,
        "note_moving_samples": note_moving,
        "voice_note_moving_samples": voice_moving,
        "instance_bytes": instance_bytes,
        "instance_usable_bytes": instance_usable,
        "instance_allocations": int(context["instance_allocations"]),
        "object_bytes": int(context["object_bytes"]),
        "allocations_after_creation": after,
        "repetitions": len(runs["floor/moving"]),
        "largest_spread": max(spread(name) for name in runs),
        "machine": machine(),
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
    }

    def row(case, cost, unit, ratio, target, name=None):
        spread_text = f"{100 * spread(name):.0f}%" if name else ""
        return f"| {case} | {cost} | {unit} | {ratio} | {target} | {spread_text} |"

    us = lambda ns: f"{ns / 1000:.1f}"
    lines = [
        "| Case | Cost | Unit | Ratio | Target | Spread |",
        "|---|---:|---|---|---|---:|",
        row("1 floor: bare recurrence, long moving segment", f"{floor:.2f}", "ns/sample", "1.00 (reference)", "", "floor/moving"),
        row("2 module generateEnvelope, same segment", f"{module:.2f}", "ns/sample", f"{results['module_vs_floor']:.2f}x floor", "<= 1.10x", "module/moving"),
        row("3 process, 64-sample moving block", f"{moving_block:.0f}", "ns/block", f"{moving_block / (64 * floor):.2f}x floor", "", "module/block64_moving"),
        row("3 ... with trigger+gate at one timestamp", f"{trigger_block:.0f}", "ns/block",
            f"{results['event_block_vs_moving_block']:.2f}x moving block ({results['trigger_gate_ns_per_event']:.0f} ns/event)", "<= 2.5x", "module/block64_trigger_gate"),
        row("3 ... with 8 value events at distinct timestamps", f"{eight_block:.0f}", "ns/block",
            f"{results['eight_value_block_vs_moving_block']:.2f}x moving block ({results['value_event_ns']:.0f} ns/event)", "", "module/block64_8_value_events"),
        row("4 perfect engine: floor on the note's moving samples only", us(perfect_note), "us/s of audio", "1.00 (reference)", "", None),
        row(f"4 whole note, our host honouring sleep ({100 * note_skipped:.0f}% blocks skipped)", us(note_sleep), "us/s of audio",
            f"{results['note_vs_perfect']:.2f}x perfect", "<= 1.25x", "note/host_honouring_sleep"),
        row("4 whole note, lean host honouring sleep", us(note_lean), "us/s of audio",
            f"{results['note_lean_vs_perfect']:.2f}x perfect", "", "note/lean_host_honouring_sleep"),
        row("4 whole note, host calling every block", us(note_every), "us/s of audio", f"{note_every / perfect_note:.2f}x perfect", "", "note/host_calling_every_block"),
        row("5 JUCE ADSR getNextSample, same note", us(juce_sample), "us/s of audio",
            f"{results['juce_per_sample_vs_note']:.2f}x module note", ">= 3x", "peer/juce_getNextSample"),
        row("5 JUCE ADSR applyEnvelopeToBuffer, same note", us(juce_buffer), "us/s of audio",
            f"{results['juce_buffer_vs_note']:.2f}x module note", ">= 1.8x", "peer/juce_applyEnvelopeToBuffer"),
        row("5 Faust en.adsre, same note", us(faust), "us/s of audio", f"{results['faust_vs_note']:.2f}x module note", ">= 10x", "peer/faust_adsre"),
        row("6 perfect engine: floor on 1024 voices' moving samples", us(perfect_voices), "us/s of audio", "1.00 (reference)", "", None),
        row(f"6 1024 voices, our host honouring sleep ({100 * skipped:.0f}% blocks skipped)", us(voices_sleep), "us/s of audio",
            f"{results['voices_vs_perfect']:.2f}x perfect", "<= 1.25x", "voices/1024_host_honouring_sleep"),
        row("6 1024 voices, lean host honouring sleep", us(voices_lean), "us/s of audio",
            f"{results['voices_lean_vs_perfect']:.2f}x perfect", "", "voices/1024_lean_host_honouring_sleep"),
        row("6 1024 voices, host calling every block", us(voices_every), "us/s of audio", f"{voices_every / perfect_voices:.2f}x perfect", "",
            "voices/1024_host_calling_every_block"),
        row(f"memory per instance: object ({int(context['object_bytes'])}) + {int(context['instance_allocations']) - 1} allocations while creating it",
            f"{instance_bytes}", "bytes", f"{instance_usable} with malloc's rounding; {after} allocations after creation",
            "<= 2048, 0", None),
    ]
    print()
    print("\n".join(lines))
    print(f"\nMedians of {results['repetitions']} repetitions (CPU time); spread = (max - min) / median.")
    print(f"Machine: {results['machine']}; {results['date']}")
    with open(os.path.join(args.results, "latest.json"), "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    with open(os.path.join(args.results, "latest.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
