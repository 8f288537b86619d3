#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks that the README and the pages under docs/ stay true: every relative link points to a
file that exists and every #anchor to a heading there (GitHub's slugs), and every command of the
README's ```sh blocks runs on a built tree and succeeds.

Usage: check_docs.py --source DIR --build DIR   check the tree's README.md, docs/ and bench/results/
       check_docs.py --self-test                plant a broken link, a broken anchor, a failing
                                                command and an unlisted install; each must fail

The commands run in a scratch folder that holds the source tree's top-level entries as links and
`build` as a link to the build tree, with a scratch HOME and the build tree first on PATH, so
`./build/kvx` and `kvx` both work and nothing is written to the source tree or the real home.
A command is run unless SKIPPED names it or INSTEAD gives another form of it; one that would
install system-wide, rebuild or re-run the suite and is named in neither fails the check instead
of running, so a new command is run or named, never left out unseen."""
import argparse
import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

# Commands of the README that are not run, each exactly as written (comment left out), and why.
SKIPPED = {
    "make test": "re-runs the whole suite this check is part of",
    "make package": "builds a tree of its own and the Debian packages (minutes)",
    "./build/kvx studio --open": "serves until stopped (tests/studio starts and stops it)",
}
# Commands run in another form: the demo without its build and dependency steps, which the
# tree under test has been through already.
INSTEAD = {
    "make demo": "make -o build -o deps demo",
    "make demo-instrument": "make -o build -o deps demo-instrument",
}
# What must be named above rather than run: installs system-wide, rebuilds, or takes long.
UNSAFE_WORDS = {"sudo", "apt", "apt-get", "dpkg", "scripts/setup-deps", "cpack", "ctest"}
SAFE_MAKE_TARGETS = {"help"}

FENCE = re.compile(r"^(```|~~~)\s*(\S*)")
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^[ ]{0,3}\[[^\]]+\]:[ \t]*(\S+)", re.MULTILINE)


def prose_and_code(text):
    """The lines, fenced code blanked, and the ```sh blocks."""
    prose, blocks, fence, lang = [], [], None, ""
    for line in text.split("\n"):
        opening = FENCE.match(line)
        if fence is None and opening:
            fence, lang = opening.group(1), opening.group(2)
            blocks.append((lang, []))
            prose.append("")
        elif fence is not None and line.strip().startswith(fence):
            fence = None
            prose.append("")
        elif fence is not None:
            blocks[-1][1].append(line)
            prose.append("")
        else:
            prose.append(line)
    return prose, [lines for lang, lines in blocks if lang in ("sh", "bash", "shell")]


def without_code_spans(lines):
    """The prose as one text, code spans blanked paragraph by paragraph (a span may wrap lines
    but not cross a blank one); line breaks stay where they were."""
    blank = lambda m: re.sub(r"[^\n]", " ", m.group(0))
    return "\n\n".join(re.sub(r"`[^`]*`", blank, paragraph) for paragraph in "\n".join(lines).split("\n\n"))


def slugs(path):
    """GitHub's anchors of a Markdown file's headings: lower case, punctuation dropped, spaces
    as hyphens, a repeated slug numbered -1, -2 ..."""
    with open(path, encoding="utf-8") as f:
        raw = f.read()
    prose, _ = prose_and_code(raw)
    raw = raw.split("\n")
    found, seen = set(), {}
    for index, line in enumerate(prose):
        if not re.match(r"^#{1,6}\s", line):
            continue
        heading = re.sub(r"^#{1,6}\s+", "", raw[index]).strip().rstrip("#").strip()
        heading = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    return found


def check_links(path):
    """One message per relative link of `path` that leads nowhere."""
    with open(path, encoding="utf-8") as f:
        prose, _ = prose_and_code(f.read())
    text = without_code_spans(prose)
    problems = []
    found = list(LINK.finditer(text)) + list(REFERENCE.finditer(text))
    for match in found:
        number, target = text.count("\n", 0, match.start()) + 1, match.group(1)
        if re.match(r"^[a-z][a-z0-9+.-]*:", target):
            continue  # http:, https:, mailto: ...
        file_part, _, anchor = target.partition("#")
        linked = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
        where = f"{path}:{number}: {target}"
        if not os.path.exists(linked):
            problems.append(f"{where}: no such file {linked}")
        elif anchor and linked.endswith(".md") and anchor not in slugs(linked):
            problems.append(f"{where}: no heading '#{anchor}' in {linked}")
    return problems


def commands(path):
    """The commands of a file's ```sh blocks, continuation lines joined."""
    with open(path, encoding="utf-8") as f:
        _, blocks = prose_and_code(f.read())
    found = []
    for block in blocks:
        pending = ""
        for line in block:
            if line.rstrip().endswith("\\"):
                pending += line.rstrip()[:-1] + " "
                continue
            command = (pending + line).strip()
            pending = ""
            if command and not command.startswith("#"):
                found.append(command)
    return found


def key(command):
    return " ".join(shlex.split(command, comments=True))


def unsafe(command):
    words = shlex.split(command, comments=True)
    if any(word in UNSAFE_WORDS for word in words):
        return True
    if words and words[0] == "cmake":  # only an install under the user's home or a relative prefix
        prefix = words[words.index("--prefix") + 1] if "--prefix" in words[:-1] else "/"
        return "--install" not in words or prefix.startswith("/")
    if words and words[0] == "make":
        targets = [word for word in words[1:] if not word.startswith("-") and "=" not in word]
        return not targets or any(target not in SAFE_MAKE_TARGETS for target in targets)
    return False


def run_commands(source, build, readme, every_entry_used):
    """One message per README command that fails, or that would install and is not named, and,
    if `every_entry_used`, per entry of SKIPPED or INSTEAD that the README no longer has."""
    problems = []
    source = os.path.abspath(source)
    with tempfile.TemporaryDirectory(prefix="kvx-docs-") as scratch:
        work, home = os.path.join(scratch, "work"), os.path.join(scratch, "home")
        os.makedirs(work)
        os.makedirs(home)
        for entry in os.listdir(source):
            if entry not in ("build", "out") and not entry.startswith(("build-", ".git")):
                os.symlink(os.path.join(source, entry), os.path.join(work, entry))
        os.symlink(os.path.abspath(build), os.path.join(work, "build"))
        env = {name: value for name, value in os.environ.items() if not name.startswith(("KVX_", "LV2_"))}
        env.update(HOME=home, PATH=os.path.abspath(build) + os.pathsep + os.environ.get("PATH", ""))
        seen = set()
        for command in commands(readme):
            name = key(command)
            seen.add(name)
            if name in SKIPPED:
                print(f"skipped: {name} ({SKIPPED[name]})")
                continue
            if name not in INSTEAD and unsafe(command):
                problems.append(f"{readme}: '{name}' installs, rebuilds or runs long: run it in another "
                                "form (INSTEAD) or name it in SKIPPED with the reason")
                continue
            run = INSTEAD.get(name, command)
            shown = INSTEAD.get(name, name)
            result = subprocess.run(["bash", "-c", run], cwd=work, env=env, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
            print(f"ran:     {shown} -> {result.returncode}")
            if result.returncode != 0:
                problems.append(f"{readme}: '{shown}' exited {result.returncode}:\n{result.stdout[-2000:]}")
    if every_entry_used:
        problems += [f"{readme}: '{name}' is in SKIPPED or INSTEAD but no longer in the README"
                     for name in sorted(set(SKIPPED) | set(INSTEAD)) if name not in seen]
    return problems


def check(source, build, every_entry_used=True):
    pages = [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md")))
    pages += sorted(glob.glob(os.path.join(source, "bench", "results", "*.md")))
    problems = [problem for page in pages for problem in check_links(page)]
    problems += run_commands(source, build, pages[0], every_entry_used)
    return problems


def self_test():
    """Plants each fault in a scratch tree of two pages; the check must report every one."""
    plants = {
        "a link to a missing file": "[gone](docs/nowhere.md)",
        "an anchor to a missing heading": "[there](docs/page.md#no-such-heading)",
        "a command that fails": "```sh\nfalse\n```",
        "an install that is not named": "```sh\nsudo apt install ./kvx.deb\n```",
    }
    failures = 0
    for fault, text in plants.items():
        with tempfile.TemporaryDirectory(prefix="kvx-docs-self-") as root:
            os.makedirs(os.path.join(root, "docs"))
            os.makedirs(os.path.join(root, "build"))
            with open(os.path.join(root, "docs", "page.md"), "w") as f:
                f.write("# A page\n\n## The `kvx` tool, in short\n\n[back](../README.md#readme-title)\n")
            with open(os.path.join(root, "README.md"), "w") as f:
                f.write("# README title\n\n[fine](docs/page.md#the-kvx-tool-in-short)\n\n```sh\ntrue\n```\n\n"
                        + text + "\n")
            problems = check(root, os.path.join(root, "build"), every_entry_used=False)
            print(f"{'refused' if problems else 'MISSED '}: {fault}")
            failures += not problems
    with tempfile.TemporaryDirectory(prefix="kvx-docs-self-") as root:
        os.makedirs(os.path.join(root, "build"))
        with open(os.path.join(root, "README.md"), "w") as f:
            f.write("# Title\n\n## Title\n\n[second](#title-1) `[not a link](nowhere)`\n\n```sh\ntrue\n```\n")
        problems = check(root, os.path.join(root, "build"), every_entry_used=False)
        print(f"{'REFUSED' if problems else 'accepted'}: a clean page ({problems})")
        failures += bool(problems)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source")
    parser.add_argument("--build")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return 1 if self_test() else 0
    if not args.source or not args.build:
        parser.error("--source and --build are needed")
    problems = check(args.source, args.build)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
