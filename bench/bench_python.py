#!/usr/bin/env python3
"""Reading a 100 000-record library into a list of dicts: veziru against Python's own sqlite3 module.

Builds the library and the Python module in a Release folder of its own (unless --module-dir points at a built
module), fills an emission library with the module, then times in the same run, alternating and taking the
best of several rounds: list(lib), lib.to_records(), and sqlite3 reading the same file into dicts. Prints the
times and the ratios veziru / sqlite3 (the aim: not above 1.5).
"""
import argparse
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(command), done.stdout, done.stderr))


def build_module(build_dir):
    print("building the module in", build_dir)
    run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DVEZ_BUILD_TESTS=OFF",
         "-DVEZ_BUILD_BENCH=OFF", "-DVEZ_BUILD_APPS=OFF", "-DVEZ_BUILD_PYTHON=ON",
         "-DPython_EXECUTABLE=" + sys.executable])
    run(["cmake", "--build", build_dir, "--target", "veziru_python", "-j", str(os.cpu_count() or 2)])
    return os.path.join(build_dir, "python", "package")


def sqlite3_dicts(path, table):
    con = sqlite3.connect("file:" + path + "?mode=ro", uri=True)
    try:
        cur = con.execute('SELECT * FROM "%s"' % table.replace('"', '""'))
        names = [d[0] for d in cur.description]
        return [dict(zip(names, row)) for row in cur]
    finally:
        con.close()


def best(fn, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return min(times), result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--records", type=int, default=100000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--module-dir", help="folder holding a built veziru module (skips the build)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-pybench"))
    args, _ = parser.parse_known_args()  # run-benchmarks passes Google Benchmark's options

    sys.path.insert(0, args.module_dir or build_module(args.build_dir))
    import veziru

    with tempfile.TemporaryDirectory() as folder:
        lib = veziru.create_library("ltEmis", folder)
        start = time.perf_counter()
        with lib.transaction():
            for i in range(args.records):
                lib.append({"ElementName": "Element %d" % i, "Values1": i * 0.25, "Values17": 60 + i % 40,
                            "Kommentar": "measured at point %d" % (i % 97)})
        print("filled %d records (%d fields) in %.2f s" % (len(lib), len(lib.fields), time.perf_counter() - start))
        table = os.path.basename(lib.path)

        results = {}
        for name, fn in (("list(lib)", lambda: list(lib)), ("lib.to_records()", lib.to_records),
                         ("sqlite3 dicts", lambda: sqlite3_dicts(lib.path, table))):
            results[name], records = best(fn, args.rounds)
            assert len(records) == args.records
        reference = results["sqlite3 dicts"]
        for name, seconds in results.items():
            print("%-18s %7.3f s   ratio to sqlite3 %.2f" % (name, seconds, seconds / reference))
        lib.close()


if __name__ == "__main__":
    main()
