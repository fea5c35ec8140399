#!/usr/bin/env python3
"""Measures how many small injected faults the test suites catch.

Each mutant replaces one exact piece of source text; the tool applies it, builds one test target, runs its
binary, records whether the run failed (caught) or passed (survived), and puts the source back, also when the
build or the run fails. Mutants that do not compile are reported and left out of the figure.

Work on a copy of the source tree (the tool rewrites files in place while it runs):

    tools/mutation-check.py --repo COPY --build COPY/build MUTANTS.txt [ID ...]

MUTANTS.txt holds blocks like

    @@ g01 test_geometry tests/geometry/test_geometry [gtest filter]
    file src/geometry/Algebra.cpp
    -   if (l2 == 0 || s < 0 || s > l2) return -1;
    +   if (l2 == 0 || s < 0 || s >= l2) return -1;

"- " lines give the text to replace (several lines for a multi-line piece; "- N: text" picks the N-th of several
occurrences), "+ " lines the replacement. The text must occur exactly once otherwise.

--sample N --seed S writes N mutants drawn at random from comparison, logic and number tokens of the source files
named with --source FILE=TARGET:BINARY[:FILTER] (repeatable) to standard output, so that a sample is made without
looking at the tests.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import time


def parse(path):
    mutants, current = [], None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith("@@ "):
            parts = line[3:].split()
            current = {"id": parts[0], "target": parts[1], "binary": parts[2],
                       "filter": parts[3] if len(parts) > 3 else None}
            mutants.append(current)
        elif line.startswith("file "):
            current["file"] = line[5:].strip()
        elif line.startswith("- "):
            current["old"] = current["old"] + "\n" + line[2:] if "old" in current else line[2:]
        elif line.startswith("+ ") or line == "+":
            current["new"] = current["new"] + "\n" + line[2:] if "new" in current else line[2:]
    return mutants


def apply(source, old, new):
    occurrence = None
    head = old.split(": ", 1)
    if len(head) == 2 and head[0].isdigit():
        occurrence, old = int(head[0]), head[1]
    count = source.count(old)
    if occurrence is None and count != 1:
        return None
    index = -1
    for _ in range(occurrence or 1):
        index = source.index(old, index + 1)
    return source[:index] + new + source[index + len(old):]


def run(mutant, repo, build, fail_fast):
    path = os.path.join(repo, mutant["file"])
    source = open(path, encoding="utf-8").read()
    mutated = apply(source, mutant["old"], mutant.get("new", ""))
    if mutated is None:
        return "BADPATTERN"
    try:
        open(path, "w", encoding="utf-8").write(mutated)
        built = subprocess.run(["cmake", "--build", build, "-j2", "--target", mutant["target"]],
                               capture_output=True, text=True, errors="replace")
        if built.returncode != 0:
            return "NOCOMPILE"
        command = [os.path.join(build, mutant["binary"])]
        if mutant["filter"]:
            command.append("--gtest_filter=" + mutant["filter"])
        if fail_fast:
            command.append("--gtest_fail_fast")
        try:
            result = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=600,
                                    cwd=os.path.dirname(command[0]))
        except subprocess.TimeoutExpired:
            return "caught"
        return "caught" if result.returncode != 0 else "SURVIVED"
    finally:
        open(path, "w", encoding="utf-8").write(source)


RULES = [(r" <= ", " < "), (r" >= ", " > "), (r" < ", " <= "), (r" > ", " >= "), (r"==", "!="), (r"!=", "=="),
         (r"&&", "||"), (r"\|\|", "&&"), (r"\+ 1\b", "+ 2"), (r"- 1\b", "- 2"), (r"(?<![\w.])(\d+)(?![\w.])", None)]


def sample(sources, count, seed):
    candidates = []
    for entry in sources:
        path, target = entry.split("=", 1)
        text = open(path, encoding="utf-8").read()
        for line in text.split("\n"):
            stripped = line.strip()
            if not stripped or stripped.startswith(("//", "#", "*")) or text.count(line) != 1:
                continue
            code = line.split("//")[0]
            for pattern, replacement in RULES:
                match = re.search(pattern, code)
                if not match:
                    continue
                if replacement is None:
                    replacement = str(int(match.group(1)) + 1)
                candidates.append((path, target, line, line[:match.start()] + replacement + line[match.end():]))
                break
    random.seed(seed)
    for number, (path, target, old, new) in enumerate(random.sample(candidates, count), 1):
        print("@@ m%03d %s\nfile %s\n- %s\n+ %s" % (number, " ".join(target.split(":")), path, old, new))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mutants", nargs="?")
    parser.add_argument("ids", nargs="*")
    parser.add_argument("--repo", default=".")
    parser.add_argument("--build", default="build")
    parser.add_argument("--fail-fast", action="store_true", help="stop each test run at its first failure")
    parser.add_argument("--sample", type=int)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--source", action="append", default=[])
    args = parser.parse_args()
    if args.sample:
        sample(args.source, args.sample, args.seed)
        return 0
    results = []
    for mutant in parse(args.mutants):
        if args.ids and mutant["id"] not in args.ids:
            continue
        start = time.time()
        outcome = run(mutant, args.repo, args.build, args.fail_fast)
        results.append((mutant["id"], outcome))
        print("%-10s %-12s %5.0fs" % (mutant["id"], outcome, time.time() - start), flush=True)
    valid = [r for _, r in results if r in ("caught", "SURVIVED")]
    caught = valid.count("caught")
    print("valid %d, caught %d (%.0f%%)" % (len(valid), caught, 100.0 * caught / max(1, len(valid))))
    print("survivors:", " ".join(i for i, r in results if r == "SURVIVED"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
