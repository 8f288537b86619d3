#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs kvx_bench (guards, then every case), and prints one table of medians and ratios computed
in that run, with the targets each ratio is held to, the processor and its cache sizes. Counts
the cache lines one block touches with block_footprint.py when valgrind is there. Writes the
ratios, the figures and the machine to <results>/latest.json."""
import argparse
import datetime
import glob
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
SAMPLE_RATE = 48000.0
NOTE_SECONDS = 350400 / SAMPLE_RATE
VOICE_PERIOD_SECONDS = 4.0
HERE = os.path.dirname(os.path.abspath(__file__))


def processor():
    """The processor's name as lscpu gives it, with family and model."""
    name = platform.processor() or platform.machine()
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True, check=True).stdout
        fields = dict(line.split(":", 1) for line in out.splitlines() if ":" in line)
        name = fields.get("Model name", name).strip()
        family = fields.get("CPU family", "").strip()
        if family:
            name += f" (family {family}, model {fields.get('Model', '').strip()})"
    except (OSError, subprocess.CalledProcessError):
        pass
    return name


def caches():
    """CPU 0's caches from sysfs, e.g. {"L1d": "32K", "L1i": "32K", "L2": "1024K", "L3": "32768K"}."""
    found = {}
    for index in sorted(glob.glob("/sys/devices/system/cpu/cpu0/cache/index*")):
        try:
            read = lambda name: open(os.path.join(index, name)).read().strip()
            level, kind, size = read("level"), read("type"), read("size")
        except OSError:
            continue
        suffix = {"Data": "d", "Instruction": "i"}.get(kind, "")
        found[f"L{level}{suffix}"] = size
    return found


def machine():
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()
    return f"{processor()}, {os.cpu_count()} CPUs, {platform.system()} {platform.release()}, " + (compiler[0] if compiler else "")


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


def footprint(driver):
    """Cache lines per block from block_footprint.py, or None without valgrind or a driver."""
    if not driver or not shutil.which("valgrind"):
        return None
    run = subprocess.run([sys.executable, os.path.join(HERE, "block_footprint.py"), "--driver", driver, "--json"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        print(f"block_footprint.py failed; no cache line counts:\n{run.stderr}", file=sys.stderr)
        return None
    return json.loads(run.stdout)


SCORE_SECONDS = 8.0  # bench/dense_score.h


def instrument_case(median, spread, counter, context, runs):
    """Case 9: the example instrument on the dense score. Returns (results, targets, rows), or None when
    the case was not run."""
    names = {
        "instrument": "instrument/score_16_voices_block256",
        "alone": "instrument/score_voices_alone_block256",
        "lv2": "instrument/score_lv2_bundle_run256",
        "faust": "instrument/score_faust2lv2_run256",
        "idle": "instrument/idle_block64",
        "idle_lv2": "instrument/idle_lv2_bundle_run64",
    }
    if any(name not in runs for name in names.values()):
        return None
    per_second = {key: median(name) / SCORE_SECONDS for key, name in names.items() if not key.startswith("idle")}
    # Until `kvx lv2` of a patch with voices writes an lv2:InstrumentPlugin, the bundle's midi flavour is one
    # voice: its row is shown, and the targets are held on the in-process instrument instead.
    polyphonic_bundle = counter(names["lv2"], "is_instrument") == 1.0
    ours = per_second["lv2"] if polyphonic_bundle else per_second["instrument"]
    results = {
        "instrument_vs_voices_alone": per_second["instrument"] / per_second["alone"],
        "instrument_lv2_vs_voices_alone": per_second["lv2"] / per_second["alone"],
        "instrument_lv2_bundle_is_instrument": polyphonic_bundle,
        "faust_lv2_instrument_vs_ours": per_second["faust"] / ours,
        "faust_lv2_instrument_compared_with": "the LV2 bundle" if polyphonic_bundle else "host::Instrument in process",
        "instrument_idle_ns_per_block": median(names["idle"]),
        "instrument_idle_lv2_ns_per_run": median(names["idle_lv2"]),
        "instrument_ns_per_audio_second": per_second,
        "instrument_steals": int(context["instrument_steals"]),
        "instrument_voice_runs": int(context["instrument_voice_runs"]),
    }
    targets = {
        "instrument_vs_voices_alone": (lambda r: r <= 1.25, "<= 1.25x"),
        "faust_lv2_instrument_vs_ours": (lambda r: r >= 1.5, ">= 1.5x"),
        "instrument_idle_ns_per_block": (lambda ns: ns <= 20.0, "<= 20 ns"),
    }
    if polyphonic_bundle:
        targets["instrument_lv2_vs_voices_alone"] = (lambda r: r <= 1.25, "<= 1.25x")
        targets["instrument_idle_lv2_ns_per_run"] = (lambda ns: ns <= 20.0, "<= 20 ns")

    def rows(target, row):
        us = lambda ns: f"{ns / 1000:.1f}"
        held = lambda key: target(key) if key in targets else ""
        bundle = "" if polyphonic_bundle else " (single-voice midi flavour until the instrument bundle lands)"
        return [
            row(f"9 16 voices of envelope-vca-osc, dense score ({results['instrument_steals']} steals), "
                "host::Instrument, blocks of 256", us(per_second["instrument"]), "us/s of audio",
                f"{results['instrument_vs_voices_alone']:.2f}x voices alone", held("instrument_vs_voices_alone"),
                names["instrument"]),
            row(f"9 ... the voices' patches alone, replaying the instrument's {results['instrument_voice_runs']} runs",
                us(per_second["alone"]), "us/s of audio", "1.00 (reference)", "", names["alone"]),
            row(f"9 ... the patch's LV2 bundle in a lilv host, runs of 256{bundle}", us(per_second["lv2"]),
                "us/s of audio", f"{results['instrument_lv2_vs_voices_alone']:.2f}x voices alone",
                held("instrument_lv2_vs_voices_alone"), names["lv2"]),
            row("9 ... Faust voice (os.sawtooth, VCA, en.adsre) by faust2lv2 -nvoices 16, same host, runs of 256",
                us(per_second["faust"]), "us/s of audio",
                f"{results['faust_lv2_instrument_vs_ours']:.2f}x ours ({results['faust_lv2_instrument_compared_with']})",
                held("faust_lv2_instrument_vs_ours"), names["faust"]),
            row("9 idle instrument (16 voices, no note), host::Instrument, block of 64", f"{results['instrument_idle_ns_per_block']:.1f}",
                "ns/block", "", held("instrument_idle_ns_per_block"), names["idle"]),
            row(f"9 ... the patch's LV2 bundle, 64-frame run (lilv call included){bundle}",
                f"{results['instrument_idle_lv2_ns_per_run']:.1f}", "ns/run", "", held("instrument_idle_lv2_ns_per_run"),
                names["idle_lv2"]),
        ]
    return results, targets, rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--footprint", help="kvx_block_footprint, to count cache lines per block")
    parser.add_argument("--repetitions", type=int, default=int(os.environ.get("KVX_BENCH_REPETITIONS", "7")))
    parser.add_argument("--min-time", default=os.environ.get("KVX_BENCH_MIN_TIME", "0.5"))
    parser.add_argument("--json", help="use an existing Google Benchmark JSON file instead of running")
    parser.add_argument("--filter", help="run only the cases this regex names (e.g. 'instrument/'); the table "
                                         "then shows the instrument case alone when the others were not run")
    args = parser.parse_args()

    os.makedirs(args.results, exist_ok=True)
    raw = args.json or os.path.join(args.results, "raw.json")
    if not args.json:
        command = [args.bench, f"--benchmark_repetitions={args.repetitions}", f"--benchmark_min_time={args.min_time}",
                   f"--benchmark_out={raw}", "--benchmark_out_format=json",
                   # Repetitions of different cases interleave: load changes hit every case alike.
                   "--benchmark_enable_random_interleaving=true"]
        if args.filter:
            command.append(f"--benchmark_filter={args.filter}")
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

    instrument = instrument_case(median, spread, counter, context, runs)
    if "floor/moving" not in runs:  # a filtered run: the instrument case alone
        if instrument is None:
            sys.exit("run_bench.py: a filtered run shows the instrument case only; run all of 'instrument/'")
        print_instrument_only(args, instrument, spread)
        return

    note_moving = int(context["note_moving_samples"])
    voice_moving = int(context["voice_note_moving_samples"])

    floor = median("floor/moving") / 4096
    module = median("module/moving") / 4096
    moving_block = median("module/block64_moving")
    trigger_block = median("module/block64_trigger_gate")
    eight_block = median("module/block64_8_value_events")
    per_second = lambda name: median(name) / NOTE_SECONDS
    per_audio_second = lambda name: median(name) / VOICE_PERIOD_SECONDS
    # The headline figures are our host library's (host::VoicePool); the lean host shows what a
    # host that keeps no output buffer of its own would pay, one instance object per voice.
    note_pool = per_second("note/host_honouring_sleep")
    note_lean = per_second("note/lean_host_honouring_sleep")
    note_every = per_second("note/host_calling_every_block")
    note_runner = per_second("note/sleeping_runner")
    juce_sample = per_second("peer/juce_getNextSample")
    juce_buffer = per_second("peer/juce_applyEnvelopeToBuffer")
    faust = per_second("peer/faust_adsre")
    perfect_note = floor * note_moving / NOTE_SECONDS
    # The envelope as LV2 hosts play it: the bridge binary of ADSR.lv2 in a lilv host.
    lv2_note = per_second("lv2/bridge_note")
    lv2_note_256 = per_second("lv2/bridge_note_256")
    lv2_asleep = median("lv2/bridge_run_while_asleep")
    faust_lv2 = per_second("lv2/faust2lv2_adsre_note")
    perfect_voice = floor * voice_moving / VOICE_PERIOD_SECONDS  # one voice, per second of audio
    counts = sorted(int(name.rsplit("/", 1)[1]) for name in runs if name.startswith("voices/host_honouring_sleep/"))
    voices = {n: per_audio_second(f"voices/host_honouring_sleep/{n}") for n in counts}
    voices_lean = {n: per_audio_second(f"voices/lean_host_honouring_sleep/{n}") for n in counts}
    voices_every = per_audio_second("voices/host_calling_every_block/1024")
    ratio = {n: voices[n] / (perfect_voice * n) for n in counts}
    ratio_lean = {n: voices_lean[n] / (perfect_voice * n) for n in counts}
    skipped = counter("voices/host_honouring_sleep/1024", "blocks_skipped_share")
    note_skipped = counter("note/host_honouring_sleep", "blocks_skipped_share")
    instance_bytes = int(context["instance_requested_bytes"])
    instance_usable = int(context["instance_bytes"])
    allocations = int(context["instance_allocations"])
    after = int(context["allocations_after_creation"])
    # Patches (host::Patch): every module asleep, and a loop closed by a one-sample delay
    # against the same modules without it (blocks of 64).
    patch_asleep = median("patch/all_asleep_block64")
    patch_asleep_every = median("patch/all_asleep_calling_every_block64")
    patch_loop = median("patch/loop_one_sample_delay_block64") / 64
    patch_no_loop = median("patch/same_modules_no_loop_block64") / 64
    # A whole note through envelope -> VCA <- oscillator against the three modules timed alone on
    # the same samples; one iteration plays one second, so its cost is per second of audio.
    patch_note = median("patch/note_envelope_vca_osc_block64")
    patch_note_parts = {part: median(f"patch/note_{part}_alone_block64")
                        for part in ("envelope", "oscillator", "vca")}
    patch_note_vca_feed = median("patch/note_vca_feed_copies_block64")  # copying the VCA's inputs in
    patch_note_parts["vca"] -= patch_note_vca_feed
    patch_note_sum = sum(patch_note_parts.values())
    lines = footprint(args.footprint)
    cache_sizes = caches()

    # Each target: (results key, the test it must pass, its text in the table).
    targets = {
        "module_vs_floor": (lambda r: r <= 1.05, "<= 1.05x"),
        "event_block_vs_moving_block": (lambda r: r <= 2.5, "<= 2.5x"),
        "note_vs_perfect": (lambda r: r <= 1.10, "<= 1.10x"),
        "juce_per_sample_vs_note": (lambda r: r >= 3.0, ">= 3x"),
        "voices_vs_perfect": (lambda r: r <= 1.15, "<= 1.15x"),
        "voices_4096_vs_perfect": (lambda r: r <= 1.25, "<= 1.25x"),
        "lv2_note_256_vs_perfect": (lambda r: r <= 1.3, "<= 1.3x"),
        "faust_lv2_vs_lv2_note": (lambda r: r >= 5.0, ">= 5x"),
        "patch_all_asleep_ns_per_block": (lambda ns: ns <= 20.0, "<= 20 ns"),
        "patch_note_vs_modules_alone": (lambda r: r <= 1.10, "<= 1.10x"),
        "instance_bytes": (lambda b: b <= 1024, "<= 1024"),
        "instance_allocations": (lambda a: a <= 2, "<= 2"),
        "allocations_after_creation": (lambda a: a == 0, "0"),
    }
    # The instance layout, as the memory trace saw it (needs valgrind): a moving block reads two
    # lines of the instance, in our host and in the SleepingRunner (the guards check the same
    # from the field offsets).
    instance_lines = None
    if lines:
        instance_lines = max(lines[scene]["by_region"].get("module-object", 0)
                             for scene in ("pool-moving", "runner-moving"))
        targets["instance_lines_per_moving_block"] = (lambda n: n == 2, "2 instance lines")
    results = {
        "module_vs_floor": module / floor,
        "event_block_vs_moving_block": trigger_block / moving_block,
        "note_vs_perfect": note_pool / perfect_note,
        "lv2_note_vs_perfect": lv2_note / perfect_note,
        "lv2_note_256_vs_perfect": lv2_note_256 / perfect_note,
        "lv2_run_while_asleep_ns": lv2_asleep,
        "faust_lv2_vs_lv2_note": faust_lv2 / lv2_note,
        "lv2_note_ns_per_audio_second": lv2_note,
        "lv2_block_sizes": {key: context[key] for key in sorted(context) if key.startswith("lv2_")},
        "juce_per_sample_vs_note": juce_sample / note_pool,
        "juce_buffer_vs_note": juce_buffer / note_pool,
        "faust_vs_note": faust / note_pool,
        "voices_vs_perfect": ratio.get(1024),
        "voices_4096_vs_perfect": ratio.get(4096),
        "voices_vs_perfect_by_count": {str(n): ratio[n] for n in counts},
        "voices_lean_vs_perfect_by_count": {str(n): ratio_lean[n] for n in counts},
        "note_lean_vs_perfect": note_lean / perfect_note,
        "note_sleeping_runner_vs_perfect": note_runner / perfect_note,
        "voices_lean_vs_perfect": ratio_lean.get(1024),
        "note_every_block_vs_note": note_every / note_pool,
        "voices_every_block_vs_voices": voices_every / voices[1024] if 1024 in voices else None,
        "eight_value_block_vs_moving_block": eight_block / moving_block,
        "patch_all_asleep_ns_per_block": patch_asleep,
        "patch_all_asleep_calling_every_block_ns_per_block": patch_asleep_every,
        "patch_loop_ns_per_sample": patch_loop,
        "patch_no_loop_ns_per_sample": patch_no_loop,
        "patch_loop_vs_no_loop": patch_loop / patch_no_loop,
        "patch_note_vs_modules_alone": patch_note / patch_note_sum,
        "patch_note_ns_per_audio_second": patch_note,
        "patch_note_modules_alone_ns_per_audio_second": patch_note_parts,
        "floor_ns_per_sample": floor,
        "module_ns_per_sample": module,
        "moving_block_ns": moving_block,
        "trigger_gate_block_ns": trigger_block,
        "trigger_gate_ns_per_event": (trigger_block - moving_block) / 2,
        "eight_value_block_ns": eight_block,
        "value_event_ns": (eight_block - moving_block) / 8,
        "note_ns_per_audio_second": note_pool,
        "note_lean_ns_per_audio_second": note_lean,
        "note_sleeping_runner_ns_per_audio_second": note_runner,
        "our_host": "host::VoicePool: a sleeping voice is not visited and its output buffer holds the held "
                    "value; *_lean_*: one instance per voice, a host that does not look at the output at all; "
                    "*_sleeping_runner_*: host::SleepingRunner, as kvx render drives a module",
        "perfect_note_ns_per_audio_second": perfect_note,
        "perfect_voice_ns_per_audio_second": perfect_voice,
        "voices_ns_per_audio_second_by_count": {str(n): voices[n] for n in counts},
        "voices_lean_ns_per_audio_second_by_count": {str(n): voices_lean[n] for n in counts},
        "voices_blocks_skipped_share": skipped,
        "note_blocks_skipped_share": note_skipped,
        "note_moving_samples": note_moving,
        "voice_note_moving_samples": voice_moving,
        "instance_bytes": instance_bytes,
        "instance_usable_bytes": instance_usable,
        "instance_allocations": allocations,
        "object_bytes": int(context["object_bytes"]),
        "allocations_after_creation": after,
        "cache_lines_per_block": lines,
        "instance_lines_per_moving_block": instance_lines,
        "repetitions": len(runs["floor/moving"]),
        "largest_spread": max(spread(name) for name in runs),
        "processor": processor(),
        "caches": cache_sizes,
        "machine": machine(),
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
    }
    if instrument is not None:
        results.update(instrument[0])
        targets.update(instrument[1])
    failed = [key for key, (holds, _) in targets.items() if results.get(key) is None or not holds(results[key])]
    results["targets_failed"] = failed

    def target(key):
        text = targets[key][1]
        return text if key not in failed else f"{text} FAILED"

    def row(case, cost, unit, ratio_text, target_text, name=None):
        spread_text = f"{100 * spread(name):.0f}%" if name else ""
        return f"| {case} | {cost} | {unit} | {ratio_text} | {target_text} | {spread_text} |"

    us = lambda ns: f"{ns / 1000:.1f}"
    table = [
        "| Case | Cost | Unit | Ratio | Target | Spread |",
        "|---|---:|---|---|---|---:|",
        row("1 floor: bare recurrence, long moving segment", f"{floor:.2f}", "ns/sample", "1.00 (reference)", "", "floor/moving"),
        row("2 module generateEnvelope, same segment", f"{module:.2f}", "ns/sample", f"{results['module_vs_floor']:.2f}x floor",
            target("module_vs_floor"), "module/moving"),
        row("3 process, 64-sample moving block", f"{moving_block:.0f}", "ns/block", f"{moving_block / (64 * floor):.2f}x floor", "",
            "module/block64_moving"),
        row("3 ... with trigger+gate at one timestamp", f"{trigger_block:.0f}", "ns/block",
            f"{results['event_block_vs_moving_block']:.2f}x moving block ({results['trigger_gate_ns_per_event']:.0f} ns/event)",
            target("event_block_vs_moving_block"), "module/block64_trigger_gate"),
        row("3 ... with 8 value events at distinct timestamps", f"{eight_block:.0f}", "ns/block",
            f"{results['eight_value_block_vs_moving_block']:.2f}x moving block ({results['value_event_ns']:.0f} ns/event)", "",
            "module/block64_8_value_events"),
        row("4 perfect engine: floor on the note's moving samples only", us(perfect_note), "us/s of audio", "1.00 (reference)", "", None),
        row(f"4 whole note, our host (VoicePool) honouring sleep ({100 * note_skipped:.0f}% blocks skipped)", us(note_pool),
            "us/s of audio", f"{results['note_vs_perfect']:.2f}x perfect", target("note_vs_perfect"), "note/host_honouring_sleep"),
        row("4 whole note, lean host honouring sleep", us(note_lean), "us/s of audio",
            f"{results['note_lean_vs_perfect']:.2f}x perfect", "", "note/lean_host_honouring_sleep"),
        row("4 whole note, SleepingRunner honouring sleep", us(note_runner), "us/s of audio",
            f"{results['note_sleeping_runner_vs_perfect']:.2f}x perfect", "", "note/sleeping_runner"),
        row("4 whole note, our host calling every block", us(note_every), "us/s of audio", f"{note_every / perfect_note:.2f}x perfect",
            "", "note/host_calling_every_block"),
        row("5 JUCE ADSR getNextSample, same note", us(juce_sample), "us/s of audio",
            f"{results['juce_per_sample_vs_note']:.2f}x module note", target("juce_per_sample_vs_note"), "peer/juce_getNextSample"),
        row("5 JUCE ADSR applyEnvelopeToBuffer, same note", us(juce_buffer), "us/s of audio",
            f"{results['juce_buffer_vs_note']:.2f}x module note", "", "peer/juce_applyEnvelopeToBuffer"),
        row("5 Faust en.adsre, same note", us(faust), "us/s of audio", f"{results['faust_vs_note']:.2f}x module note", "",
            "peer/faust_adsre"),
        row("7 whole note through the LV2 bridge (midi flavour) in a lilv host, runs of 64", us(lv2_note), "us/s of audio",
            f"{results['lv2_note_vs_perfect']:.2f}x perfect", "", "lv2/bridge_note"),
        row("7 ... runs of 256", us(lv2_note_256), "us/s of audio", f"{results['lv2_note_256_vs_perfect']:.2f}x perfect",
            target("lv2_note_256_vs_perfect"), "lv2/bridge_note_256"),
        row("7 one 64-frame run while the module sleeps (lilv call included)", f"{lv2_asleep:.1f}", "ns/run", "", "",
            "lv2/bridge_run_while_asleep"),
        row("7 Faust en.adsre built by faust2lv2, same note, same host, runs of 64", us(faust_lv2), "us/s of audio",
            f"{results['faust_lv2_vs_lv2_note']:.2f}x bridge note", target("faust_lv2_vs_lv2_note"),
            "lv2/faust2lv2_adsre_note"),
        row("6 perfect engine: floor on one voice's moving samples", us(perfect_voice), "us/s of audio per voice",
            "1.00 (reference)", "", None),
    ]
    for n in counts:
        key = {1024: "voices_vs_perfect", 4096: "voices_4096_vs_perfect"}.get(n)
        name = f"voices/host_honouring_sleep/{n}"
        shown = f" ({100 * counter(name, 'blocks_skipped_share'):.0f}% blocks skipped)" if n == counts[0] else ""
        table.append(row(f"6 {n} voices, our host (VoicePool) honouring sleep{shown}", us(voices[n]), "us/s of audio",
                         f"{ratio[n]:.2f}x perfect", target(key) if key else "", name))
    for n in counts:
        table.append(row(f"6 {n} voices, lean host honouring sleep", us(voices_lean[n]), "us/s of audio",
                         f"{ratio_lean[n]:.2f}x perfect", "", f"voices/lean_host_honouring_sleep/{n}"))
    if 1024 in voices:
        table.append(row("6 1024 voices, our host calling every block", us(voices_every), "us/s of audio",
                         f"{voices_every / (perfect_voice * 1024):.2f}x perfect", "", "voices/host_calling_every_block/1024"))
    table += [
        row("8 patch of six modules (2 x envelope -> VCA -> VCA), every module asleep, block of 64", f"{patch_asleep:.1f}",
            "ns/block", "", target("patch_all_asleep_ns_per_block"), "patch/all_asleep_block64"),
        row("8 ... the same patch calling every module every block", f"{patch_asleep_every:.0f}", "ns/block",
            f"{patch_asleep_every / patch_asleep:.0f}x asleep", "", "patch/all_asleep_calling_every_block64"),
        row("8 loop sum -> VCA -> sum closed by a one-sample delay, run sample by sample", f"{patch_loop:.1f}", "ns/sample",
            f"{results['patch_loop_vs_no_loop']:.1f}x without the loop", "", "patch/loop_one_sample_delay_block64"),
        row("8 ... the same modules without the loop, block by block", f"{patch_no_loop:.2f}", "ns/sample", "", "",
            "patch/same_modules_no_loop_block64"),
        row("8 whole note through envelope -> VCA <- oscillator (saw), block of 64", us(patch_note), "us/s of audio",
            f"{results['patch_note_vs_modules_alone']:.2f}x the three alone", target("patch_note_vs_modules_alone"),
            "patch/note_envelope_vca_osc_block64"),
        row("8 ... the envelope alone, same note", us(patch_note_parts["envelope"]), "us/s of audio", "", "",
            "patch/note_envelope_alone_block64"),
        row("8 ... the oscillator alone, same samples", us(patch_note_parts["oscillator"]), "us/s of audio", "", "",
            "patch/note_oscillator_alone_block64"),
        row("8 ... the VCA alone, fed the same samples (less copying them in)", us(patch_note_parts["vca"]),
            "us/s of audio", f"copies {us(patch_note_vca_feed)}", "", "patch/note_vca_alone_block64"),
    ]
    if instrument is not None:
        table += instrument[2](target, row)
    table.append(row(f"memory per instance: object ({int(context['object_bytes'])}) + its allocations", f"{instance_bytes}",
                     "bytes requested", f"{allocations} allocation(s), {instance_usable} bytes with malloc's rounding; "
                     f"{after} allocations after creation",
                     f"{target('instance_bytes')}; {target('instance_allocations')}; "
                     f"{target('allocations_after_creation')} after", None))
    if lines:
        for scene, host in (("pool-moving", "our host (VoicePool)"), ("runner-moving", "SleepingRunner")):
            regions = lines[scene]["by_region"]
            module_lines = regions.get("module-object", 0)
            host_lines = sum(n for region, n in regions.items() if region.startswith("host-voice")
                             or region in ("host-runner", "host-instance", "host-services"))
            output_lines = regions.get("output-buffer", 0)
            table.append(row(f"cache lines one moving block touches per voice, {host}", f"{module_lines + host_lines + output_lines}",
                             "lines", f"instance {module_lines}, host {host_lines}, output buffer {output_lines}",
                             target("instance_lines_per_moving_block"), None))
        asleep = lines["runner-asleep"]["by_region"].get("host-runner", 0)
        table.append(row("cache lines one slept block touches per voice, our host (VoicePool) / SleepingRunner",
                         f"0 / {asleep}", "lines", "a sleeping voice is not visited / its runner", "", None))
    print()
    print("\n".join(table))
    print(f"\nMedians of {results['repetitions']} repetitions (CPU time); spread = (max - min) / median.")
    cache_text = ", ".join(f"{level} {size}" for level, size in cache_sizes.items())
    print(f"Processor: {results['processor']}; caches of CPU 0: {cache_text or 'unknown'}")
    print(f"Machine: {results['machine']}; {results['date']}")
    print(f"LV2, note on at frame 1000 in runs of 1, 64 and 512 frames: the bridge's output is the same bit for bit "
          f"(first moving sample {context['lv2_bridge_onset']}); Faust's gate is a control port read once a run, so its "
          f"note starts at {context['lv2_faust_onset_1']}, {context['lv2_faust_onset_64']} and "
          f"{context['lv2_faust_onset_512']} (largest difference from runs of 1: "
          f"{float(context['lv2_faust_largest_difference_64']):.3g} and {float(context['lv2_faust_largest_difference_512']):.3g})")
    print("Targets: all met" if not failed else f"Targets FAILED: {', '.join(failed)}")
    with open(os.path.join(args.results, "latest.json"), "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    with open(os.path.join(args.results, "latest.md"), "w") as f:
        f.write("\n".join(table) + "\n")


def print_instrument_only(args, instrument, spread):
    results, targets, rows = instrument
    failed = [key for key, (holds, _) in targets.items() if not holds(results[key])]
    results.update({"targets_failed": failed, "processor": processor(), "caches": caches(), "machine": machine(),
                    "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")})

    def target(key):
        return targets[key][1] if key not in failed else f"{targets[key][1]} FAILED"

    def row(case, cost, unit, ratio_text, target_text, name=None):
        spread_text = f"{100 * spread(name):.0f}%" if name else ""
        return f"| {case} | {cost} | {unit} | {ratio_text} | {target_text} | {spread_text} |"

    table = ["| Case | Cost | Unit | Ratio | Target | Spread |", "|---|---:|---|---|---|---:|"] + rows(target, row)
    print()
    print("\n".join(table))
    cache_text = ", ".join(f"{level} {size}" for level, size in results["caches"].items())
    print(f"\nProcessor: {results['processor']}; caches of CPU 0: {cache_text or 'unknown'}")
    print(f"Machine: {results['machine']}; {results['date']}")
    print("Targets: all met" if not failed else f"Targets FAILED: {', '.join(failed)}")
    with open(os.path.join(args.results, "latest.instrument.json"), "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
