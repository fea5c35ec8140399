#!/usr/bin/env python3
"""Lists the lines of production code changed since a commit that no test ran.

A fault on a line that no test runs survives every suite, so these lines are where a mutation sample loses first.
Build with coverage, run every suite, then read the counts with gcovr and compare:

    cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" \\
          -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage \\
          -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DVEZ_BUILD_BENCH=OFF
    cmake --build build-cov && scripts/run-tests build-cov
    gcovr -r . build-cov --json build-cov/coverage.json --gcov-ignore-parse-errors
    tools/uncovered-changes.py --base COMMIT build-cov/coverage.json

The server and the conversion count from several threads at once: `-fprofile-update=atomic` makes GCC update the
counts atomically (a build without it gave negative counts here, which gcovr parses only with
--gcov-ignore-parse-errors). Lines gcov counts as no code
(comments, braces, declarations) are left out; so is the web pages' JavaScript, which gcov does not see. The summary gives, per file, the changed lines with code and how many of them ran.
"""
import argparse
import collections
import importlib.util
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def load_mutation_check():
    found = importlib.util.spec_from_file_location("mutation_check", os.path.join(HERE, "mutation-check.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("coverage", help="gcovr's JSON output")
    parser.add_argument("--base", required=True, help="the commit the changes are counted from")
    parser.add_argument("--repo", default=os.path.dirname(HERE))
    parser.add_argument("--lines", action="store_true", help="print every changed line that did not run")
    args = parser.parse_args()

    with open(args.coverage) as handle:
        report = json.load(handle)
    counts = {}
    for entry in report["files"]:
        counts[os.path.normpath(entry["file"])] = {line["line_number"]: line["count"] for line in entry["lines"]
                                                    if not line.get("gcovr/noncode")}

    changed = load_mutation_check().changed_lines(args.repo, args.base)
    ran, total = collections.Counter(), collections.Counter()
    missed = []
    for path, number, text in changed:
        if path.endswith(".js"):
            continue
        executable = counts.get(path, {})
        if number not in executable:
            continue
        total[path] += 1
        if executable[number] > 0:
            ran[path] += 1
        else:
            missed.append((path, number, text))

    width = max((len(path) for path in total), default=4)
    for path in sorted(total, key=lambda p: (total[p] - ran[p]), reverse=True):
        if total[path] != ran[path]:
            print(f"{path:<{width}}  {total[path] - ran[path]:4d} of {total[path]:4d} changed lines not run")
    print(f"{'all':<{width}}  {sum(total.values()) - sum(ran.values()):4d} of {sum(total.values()):4d}")
    if args.lines:
        for path, number, text in missed:
            print(f"{path}:{number}: {text.strip()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
