#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Counts the distinct 64-byte cache lines one block touches, and the instructions it runs: runs
kvx_block_footprint under valgrind's lackey tool (every instruction, load and store traced),
keeps what happens between the driver's two marker stores, and groups the data lines by the
address ranges the driver printed. Prints one line per scene, or JSON with --json."""
import argparse
import json
import os
import subprocess
import sys
import tempfile

LINE = 64
SCENES = ("pool-moving", "pool-asleep", "runner-moving", "runner-asleep")


def trace(driver, scene):
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "lackey.log")
        run = subprocess.run(["valgrind", "--tool=lackey", "--trace-mem=yes", f"--log-file={log}",
                              driver, scene], capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"{driver} {scene} failed:\n{run.stderr}")
        regions, marker = [], None
        for line in run.stdout.splitlines():
            fields = line.split()
            if fields[0] == "region":
                regions.append((fields[1], int(fields[2], 16), int(fields[3])))
            elif fields[0] == "marker":
                marker = int(fields[1], 16)
        data, code = set(), set()
        instructions = 0
        inside = False
        with open(log) as f:
            for line in f:
                if line.startswith("=="):
                    continue
                kind, _, rest = line.strip().partition(" ")
                address, _, size = rest.strip().partition(",")
                address, size = int(address, 16), int(size)
                if kind == "S" and address == marker:
                    if inside:
                        break
                    inside = True
                    continue
                if not inside:
                    continue
                lines = range(address // LINE, (address + size - 1) // LINE + 1)
                (code if kind == "I" else data).update(lines)
                instructions += kind == "I"
    return regions, data, code, instructions


def classify(regions, data):
    """Lines per region, and each line as (region, byte offset of the line from the region's start)."""
    counts, where = {}, []
    for line in sorted(data):
        name, offset = "other (vtables, globals)", line * LINE
        for region, start, size in regions:
            if start // LINE <= line <= (start + size - 1) // LINE:
                name, offset = region, line * LINE - start
                break
        counts[name] = counts.get(name, 0) + 1
        where.append((name, offset))
    return counts, where


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--lines", action="store_true", help="list every line with its offset in its region")
    args = parser.parse_args()
    results = {}
    for scene in SCENES:
        regions, data, code, instructions = trace(args.driver, scene)
        counts, where = classify(regions, data)
        results[scene] = {"data_lines": len(data), "code_lines": len(code), "instructions": instructions,
                          "by_region": counts}
        if args.lines:
            for name, offset in where:
                print(f"{scene}: {name} {offset:+#x}")
    if args.json:
        print(json.dumps(results, indent=2))
        return
    for scene, result in results.items():
        parts = ", ".join(f"{name} {n}" for name, n in sorted(result["by_region"].items()))
        print(f"{scene} block: {result['data_lines']} data lines ({parts}); {result['code_lines']} code lines, "
              f"{result['instructions']} instructions")


if __name__ == "__main__":
    main()
