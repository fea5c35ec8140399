#!/usr/bin/env python3
"""Measures how many small injected faults the test suites catch.

Each mutant replaces one exact piece of source text; the tool applies it, builds the targets of its area, runs
the area's tests, records whether a run failed (caught) or all passed (survived), and puts the source back, also
when the build or the run fails. A failed run counts as a catch only when it fails again at once: on a loaded
machine a test can fail by chance, and such a mutant is listed as FLAKY, named with the tests that failed, and
counted as not caught. A mutant that its area's tests miss is built whole and run again with every test `make test`
runs (--area-only leaves that out), so that the figure is what the whole suite catches. Mutants that do not compile
are reported and left out of the figure, and so are the mutants judged equivalent before the run.

Work on a copy of the source tree (the tool rewrites files in place while it runs), built without -Werror: a fault
that only makes a compiler warning compiles in a user's build, so it must run here too:

    tools/mutation-check.py --repo COPY --build COPY/build MUTANTS.txt [ID ...] [--equivalents EQUIV.txt]

MUTANTS.txt holds blocks like

    @@ g01 test_geometry tests/geometry/test_geometry [gtest filter]
    file src/geometry/Algebra.cpp
    -   if (l2 == 0 || s < 0 || s > l2) return -1;
    +   if (l2 == 0 || s < 0 || s >= l2) return -1;

The targets are separated by commas, and so are the test runs: the path of a GoogleTest binary in the build, or
"ctest:REGEX" for the CTest tests whose names match (the pytest and browser suites), or "sh:COMMAND" run by
the shell in the build folder, "+" standing for a space (one pytest file). "- " lines give the text to
replace (several lines for a multi-line piece; "- N: text" picks the N-th of several occurrences), "+ " lines the
replacement. The text must occur exactly once otherwise.

Drawing a sample as a user's faults fall:

    tools/mutation-check.py --sample 30 --seed 7 --base COMMIT --out MUTANTS.txt --equivalents EQUIV.txt

draws lines uniformly from the lines of production code (src/, apps/, python/*.cpp, the web pages' JavaScript)
added or changed since COMMIT, and gives each one realistic fault that fits it (a comparison or logic operator
swapped, an off-by-one, a dropped statement, two arguments swapped, a wrong constant, a negation lost, ...); a line
that no fault fits (a lone brace, a declaration) is passed over and counted. The seed, the base and the counts head
MUTANTS.txt. EQUIV.txt lists every mutant as "ID no"; before the run a person changes the verdict of each mutant
that cannot change any behaviour to "ID yes REASON". The run reads it and leaves those out, listing them with
their reasons, so that the figure is caught / non-equivalent of a sample judged before any test ran.

A GoogleTest binary runs with its address space capped (--memory-gb, 8 by default), and so do the programs it
starts: a fault that makes a loop grow a text without end then aborts its program at the cap (in about 20 s),
instead of taking the machine's memory until the run's time is out. The CTest runs (Python, a browser) are left
without the cap.
"""
import argparse
import os
import random
import re
import resource
import signal
import subprocess
import sys
import time

# The area of a source file: the targets to build and the test runs that cover it (first match wins). The rules
# every front end shares are pinned by the conformance suite, which runs with each area that feeds a front end.
AREAS = [
    ("src/convert/", "vezi,test_convert,test_vezi", "tests/convert/test_convert,tests/apps/test_vezi"),
    # The conversion reads a library's records from its pages: its tests reach the page reader's large files.
    ("src/librarydb/", "vezi,veziru_python,test_librarydb,test_layouts,test_convert,test_vezi",
     "tests/librarydb/test_librarydb,tests/librarydb/layouts/test_layouts,tests/convert/test_convert,"
     "tests/apps/test_vezi,ctest:^front_ends_conformance$"),
    ("src/import/sheet/", "vezi,veziru_python,test_spreadsheet_import,test_vezi",
     "tests/import/test_spreadsheet_import,tests/apps/test_vezi,ctest:^python_module$"),
    ("src/import/", "vezi,veziru_python,test_import,test_spreadsheet_import,test_vezi",
     "tests/import/test_import,tests/import/test_spreadsheet_import,tests/apps/test_vezi,"
     "ctest:^(python_module|front_ends_conformance)$"),
    ("src/output/", "vezi,test_output,test_vezi", "tests/output/test_output,tests/apps/test_vezi"),
    ("src/web/", "vezi,veziru_python,test_web", "tests/web/test_web,ctest:^(web_browser|front_ends_conformance)$"),
    ("apps/vezi/", "vezi,veziru_python,test_vezi,test_vezi_emission",
     "tests/apps/test_vezi,tests/apps/test_vezi_emission,"
     "ctest:^(front_ends_conformance|settings_vezi_command|doc_examples)$"),
    ("python/", "veziru_python,vezi", "ctest:^(python_module|front_ends_conformance)$"),
    ("src/emission/", "vezi,test_emission,test_vezi_emission", "tests/emission/test_emission,tests/apps/test_vezi_emission"),
    ("src/core/", "test_core", "tests/core/test_core"),
    ("src/util/", "test_util", "tests/util/test_util"),
    ("src/settings/", "vezi,settings_sample_writer,test_settings", "tests/settings/test_settings,ctest:^settings_"),
    ("src/geometry/", "test_geometry", "tests/geometry/test_geometry"),
    ("src/numerics/", "test_numerics", "tests/numerics/test_numerics"),
    ("src/acoustics/", "test_acoustics", "tests/acoustics/test_acoustics"),
]
PRODUCTION = ["src", "apps", "python/*.cpp", "python/*.h"]


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
        index = source.find(old, index + 1)
        if index < 0:
            return None
    return source[:index] + new + source[index + len(old):]


MEMORY_GB = 8  # the address space of a GoogleTest run, set from --memory-gb
WHOLE_SUITE = "ctest:."  # every test CTest knows: what `make test` runs


def cap_memory():
    limit = MEMORY_GB << 30
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def runner_command(mutant, runner, build, fail_fast, timeout):
    if runner.startswith("ctest:"):
        return ["ctest", "--test-dir", build, "-j2", "-R", runner[6:], "--timeout", str(timeout), "--output-on-failure"], None
    if runner.startswith("sh:"):
        return ["sh", "-c", runner[3:].replace("+", " ")], build
    command = [os.path.join(build, runner)]
    if mutant["filter"]:
        command.append("--gtest_filter=" + mutant["filter"])
    if fail_fast:
        command.append("--gtest_fail_fast")
    return command, os.path.dirname(command[0])


def failed_tests(output):
    """The names of the failed tests in a GoogleTest or CTest output, for the log."""
    names = re.findall(r"^\[  FAILED  \] ([^\s,]+)(?:, where .*?)?(?: \(\d+ ms\))?$", output, re.M)
    names += re.findall(r"^\s+\d+ - (\S+) \(", output, re.M)
    names += re.findall(r"^FAILED (\S+)", output, re.M)  # a pytest test inside a CTest test
    return sorted(set(names))


def run_runner(mutant, runner, build, fail_fast, timeout, flaky_output=None):
    """None when the runner passed, else what failed ("timeout", or the failed tests' names). The output of a
    failed run is kept in flaky_output (a list), for a run that may turn out to have failed by chance."""
    command, cwd = runner_command(mutant, runner, build, fail_fast, timeout)
    # A session of its own, so that a run out of time is stopped with every process it started (CTest's tests,
    # a browser), not only the first.
    capped = not runner.startswith(("ctest:", "sh:")) and MEMORY_GB > 0
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors="replace", cwd=cwd, start_new_session=True,
                               preexec_fn=cap_memory if capped else None)
    try:
        # The whole suite stops a hung test itself (CTest's --timeout) and takes longer than any area's run.
        output, _ = process.communicate(timeout=timeout * 4 if runner == WHOLE_SUITE else timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        # Tests that failed before the run hung count on their own: the hang is not the only catch then.
        failed = failed_tests(output)
        return runner + ": timeout" + (" after failing " + " ".join(failed) if failed else "")
    if process.returncode == 0:
        return None
    if flaky_output is not None:
        flaky_output.append(output)
    return runner + ": " + (" ".join(failed_tests(output)) or "exit %d" % process.returncode)


def run_tests(mutant, build, fail_fast, timeout):
    """(outcome, detail): "caught" when a runner failed twice in a row with the mutant (or ran out of time),
    "FLAKY" when it failed once and then passed (a failure the mutant does not make every time, or a test that
    fails under load: both are looked at by a person and neither counts as caught), "SURVIVED" when every runner
    passed."""
    for runner in mutant["binary"].split(","):
        first_output = []
        failure = run_runner(mutant, runner, build, fail_fast, timeout, first_output)
        if failure is None:
            continue
        # A run stopped after its time did not fail by chance (the time is set well above what the suite takes on
        # a loaded machine); running it again would only cost that time once more.
        if ": timeout" not in failure and run_runner(mutant, runner, build, fail_fast, timeout) is None:
            # The failure that did not come again is a test to mend: its output goes to stderr for a person.
            tail = "".join(first_output).splitlines()[-80:]
            print("---- %s: the failed run that passed when repeated (last lines)\n%s\n----" %
                  (mutant["id"], "\n".join(tail)), file=sys.stderr, flush=True)
            return "FLAKY", failure
        return "caught", failure
    return "SURVIVED", ""


def run(mutant, repo, build, fail_fast, timeout, whole):
    path = os.path.join(repo, mutant["file"])
    source = open(path, encoding="utf-8").read()
    mutated = apply(source, mutant["old"], mutant.get("new", ""))
    if mutated is None:
        return "BADPATTERN", ""
    try:
        open(path, "w", encoding="utf-8").write(mutated)
        built = subprocess.run(["cmake", "--build", build, "-j2", "--target"] + mutant["target"].split(","),
                               capture_output=True, text=True, errors="replace")
        if built.returncode != 0:
            return "NOCOMPILE", ""
        outcome, detail = run_tests(mutant, build, fail_fast, timeout)
        if outcome != "SURVIVED" or not whole:
            return outcome, detail
        # A fault that its area's tests miss may still fail another suite (the web's tests use the engine, ...):
        # a survivor runs again with everything `make test` runs, built whole.
        whole_build = subprocess.run(["cmake", "--build", build, "-j2"], capture_output=True, text=True, errors="replace")
        if whole_build.returncode != 0:  # the other suites would run without the mutant: a person looks at it
            return "SURVIVED", "the whole build failed, so the other suites did not run"
        outcome, detail = run_tests(dict(mutant, binary=WHOLE_SUITE, filter=None), build, False, timeout)
        return outcome, ("whole suite: " + detail) if detail else detail
    finally:
        open(path, "w", encoding="utf-8").write(source)
        # The restored file must not look older than the mutant's objects, or the next build keeps them.
        os.utime(path)


# ---- drawing a sample ----

STRING = re.compile(r'"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)*\'|`(?:[^`\\]|\\.)*`')
SKIP = re.compile(r"^(//|/\*|\*|#\s*include|#\s*pragma|import |export \{|namespace |using |public:|private:|"
                  r"protected:|template\s*<|[{}()\[\];,]+$|\} else \{$|\} catch|\}\);?$|\]\)*;?$)")


def code_of(line):
    """The line with its string literals blanked and a trailing comment cut, for finding operators."""
    masked = STRING.sub(lambda m: m.group(0)[0] + "_" * (len(m.group(0)) - 2) + m.group(0)[-1], line)
    cut = masked.find("//")
    return masked if cut < 0 else masked[:cut]


def top_level_args(text, start):
    """The arguments of the call whose "(" is at `start`, as (begin, end) spans; None when unbalanced."""
    depth, spans, begin = 0, [], start + 1
    for i in range(start, len(text)):
        c = text[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                spans.append((begin, i))
                return spans
        elif c == "," and depth == 1:
            spans.append((begin, i))
            begin = i + 1
    return None


def faults(line):
    """Every realistic fault that fits the line: (kind, mutated line)."""
    code = code_of(line)
    found = []

    def at(pattern, replacement, kind, group=0):
        for m in re.finditer(pattern, code):
            new = replacement(m.group(group)) if callable(replacement) else replacement
            found.append((kind, line[:m.start(group)] + new + line[m.end(group):]))

    swaps = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ", " == ": " != ", " != ": " == ",
             " === ": " !== ", " !== ": " === ", " && ": " || ", " || ": " && "}
    at(r" (===|!==|<=|>=|==|!=|&&|\|\||<|>) ", lambda s: swaps[s], "operator swapped")
    at(r" ([+-]) (?!=)", lambda s: " - " if s == " + " else " + ", "arithmetic swapped")
    at(r" [+-] 1\b", "", "off by one")
    at(r"(?<![\w.])([1-9]\d*)(?![\w.])", lambda s: str(int(s) + 1), "wrong constant", 1)
    at(r"\b(true|false)\b", lambda s: "false" if s == "true" else "true", "wrong constant", 1)
    at(r"!(?!=)(?=[\w(])", "", "negation lost")
    at(r"\b(break|continue);", lambda s: "continue;" if s == "break;" else "break;", "break and continue swapped")
    at(r"\+\+|--", lambda s: "--" if s == "++" else "++", "increment swapped")
    stripped = line.strip()
    if stripped.endswith(";") and re.match(r"^([\w.\->\[\]*&:]+(\(|\s*([+\-*/|&]?=)\s)|\+\+|--|break;|continue;|"
                                           r"return;|await |this\.)", stripped):
        # An empty statement, not an empty line: a dropped statement after a label still compiles.
        found.append(("statement dropped", line[:len(line) - len(line.lstrip())] + ";"))
    # Two simple arguments of a call swapped.
    for m in re.finditer(r"\w\(", code):
        spans = top_level_args(code, m.end() - 1)
        if spans and len(spans) == 2:
            a, b = (line[s:e].strip() for s, e in spans)
            if a and b and a != b and all(re.fullmatch(r"[\w.\->:\"' ]+", x) for x in (a, b)):
                found.append(("arguments swapped", line[:spans[0][0]] + b + ", " + a + line[spans[1][1]:]))
    # An escape of text for HTML, XML or JSON lost: the escaped form written as the raw character.
    for escape, raw in (("&amp;", "&"), ("&lt;", "<"), ("&gt;", ">"), ("&quot;", '"'), ("\\\\", "\\")):
        if escape in line and '"' in line:
            found.append(("escape lost", line.replace(escape, raw, 1)))
    return [(kind, new) for kind, new in found if new != line]


def changed_lines(repo, base):
    """(file, line number, text) of every line of production code added or changed since `base`."""
    diff = subprocess.run(["git", "-C", repo, "diff", "-U0", "--no-color", base, "--"] + PRODUCTION +
                          ["src/web/static/js"], capture_output=True, text=True, check=True).stdout
    lines, path, number = [], None, 0
    for text in diff.split("\n"):
        if text.startswith("+++ "):
            path = text[6:] if text.startswith("+++ b/") else None
        elif text.startswith("@@"):
            number = int(re.match(r"@@ -\S+ \+(\d+)", text).group(1))
        elif text.startswith("+") and path:
            if path.endswith((".cpp", ".h", ".js")):
                lines.append((path, number, text[1:]))
            number += 1
    return lines


def area(path):
    for prefix, targets, runners in AREAS:
        if path.startswith(prefix):
            return targets, runners
    return None


def sample(repo, base, count, seed, out, equivalents):
    rng = random.Random(seed)
    lines = changed_lines(repo, base)
    eligible = [entry for entry in lines if entry[2].strip() and not SKIP.match(entry[2].strip()) and area(entry[0])]
    order = list(range(len(eligible)))
    rng.shuffle(order)
    chosen, passed = [], 0
    for index in order:
        if len(chosen) == count:
            break
        path, number, text = eligible[index]
        options = faults(text)
        if not options:
            passed += 1
            continue
        kind, new = rng.choice(options)
        source = open(os.path.join(repo, path), encoding="utf-8").read()
        # Which occurrence of the text is the line drawn, so that the pattern picks exactly it.
        offset = sum(len(l) + 1 for l in source.split("\n")[:number - 1])
        occurrence = source.count(text, 0, offset) + 1
        pattern = text if source.count(text) == 1 else "%d: %s" % (occurrence, text)
        chosen.append((path, number, kind, pattern, new))
    with open(out, "w", encoding="utf-8") as f:
        f.write("# base %s, seed %d: %d lines added or changed, %d without a fault that fits passed over\n"
                % (base, seed, len(eligible), passed))
        for number, (path, line, kind, pattern, new) in enumerate(chosen, 1):
            targets, runners = area(path)
            f.write("@@ m%03d %s %s\n# %s:%d %s\nfile %s\n- %s\n+ %s\n"
                    % (number, targets, runners, path, line, kind, path, pattern, new))
    with open(equivalents, "w", encoding="utf-8") as f:
        f.write("# Judge each mutant before the run: \"ID no\", or \"ID yes REASON\" when it cannot change behaviour.\n")
        for number in range(1, len(chosen) + 1):
            f.write("m%03d no\n" % number)


def read_equivalents(path):
    judged = {}
    for line in open(path, encoding="utf-8"):
        parts = line.split(None, 2)
        if len(parts) >= 2 and not line.startswith("#"):
            judged[parts[0]] = parts[2].strip() if parts[1] == "yes" and len(parts) > 2 else None
    return judged


def main():
    global MEMORY_GB
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mutants", nargs="?")
    parser.add_argument("ids", nargs="*")
    parser.add_argument("--repo", default=".")
    parser.add_argument("--build", default="build")
    parser.add_argument("--fail-fast", action="store_true", help="stop each test run at its first failure")
    parser.add_argument("--timeout", type=int, default=900,
                        help="seconds a test run may take before it counts as caught by a hang (default 900)")
    parser.add_argument("--memory-gb", type=int, default=MEMORY_GB,
                        help="the address space of each GoogleTest run and what it starts, in GiB (0: no cap)")
    parser.add_argument("--sample", type=int)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--base", help="the commit since which the lines were added or changed")
    parser.add_argument("--out", help="where the sample is written")
    parser.add_argument("--equivalents", help="the verdicts of equivalence: written with a sample, read by a run")
    parser.add_argument("--area-only", action="store_true",
                        help="count a mutant that its area's tests miss as surviving, without running every suite")
    args = parser.parse_args()
    MEMORY_GB = args.memory_gb
    if args.sample:
        if not (args.base and args.out and args.equivalents):
            parser.error("--sample needs --base, --out and --equivalents")
        sample(args.repo, args.base, args.sample, args.seed, args.out, args.equivalents)
        return 0
    judged = read_equivalents(args.equivalents) if args.equivalents else {}
    results = []
    for mutant in parse(args.mutants):
        if args.ids and mutant["id"] not in args.ids:
            continue
        if judged.get(mutant["id"]):
            print("%-10s %-12s %s" % (mutant["id"], "equivalent", judged[mutant["id"]]), flush=True)
            continue
        start = time.time()
        outcome, detail = run(mutant, args.repo, os.path.abspath(args.build), args.fail_fast,
                              args.timeout, not args.area_only)
        results.append((mutant["id"], outcome))
        print("%-10s %-12s %5.0fs  %s" % (mutant["id"], outcome, time.time() - start, detail), flush=True)
    valid = [r for _, r in results if r in ("caught", "SURVIVED", "FLAKY")]
    caught = valid.count("caught")
    print("non-equivalent %d, caught %d (%.0f%%)" % (len(valid), caught, 100.0 * caught / max(1, len(valid))))
    print("survivors:", " ".join(i for i, r in results if r in ("SURVIVED", "FLAKY")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
