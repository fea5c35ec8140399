#!/usr/bin/env python3
"""Reading a library from Python: veziru against Python's own sqlite3 module and against pandas.read_sql.

Builds the Python module in a Release folder of its own (unless --module-dir points at a built module), then:

1. Records: fills an emission library with 100 000 records through the module and times, alternating and taking
   the best of several rounds, list(lib), lib.to_records(), and sqlite3 reading the same file into dicts. The aim:
   a ratio veziru / sqlite3 not above 1.5.
2. DataFrames: fills an emission library with 300 000 records in all its 125 fields (numbers in every numeric
   field, names and comments in the text fields, a date in every record) and reads it into a pandas DataFrame with
   lib.to_pandas() and with pandas.read_sql over sqlite3. Each reading runs in a fresh interpreter, alternating,
   best of several rounds; the time and the growth of the peak resident memory (ru_maxrss) after the imports are
   compared. The aim: both ratios to_pandas / read_sql not above 1.0.
3. Positions: lib[i] at the start, the middle and near the end of an emission library of 200 000 records, the
   positions taken in turn, many reads each: the medians with the 10th and 90th percentiles, and the ratios of the
   medians to the start. The aim: the end not above 3 x the start.
"""
import argparse
import os
import statistics
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


FRAME_CHILD = r"""
import resource, sqlite3, sys, time
sys.path.insert(0, sys.argv[1])
import pandas, veziru
method, path, table = sys.argv[2:5]
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
if method == "to_pandas":
    with veziru.open_library(path, read_only=True) as lib:
        frame = lib.to_pandas()
else:
    con = sqlite3.connect("file:" + path + "?mode=ro", uri=True)
    frame = pandas.read_sql('SELECT * FROM "%s"' % table.replace('"', '""'), con)
    con.close()
seconds = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(seconds, (peak - before) / 1024.0, frame.shape[0], frame.shape[1])
"""


def fill_every_field(path, table, records):
    """Writes `records` rows into every field of the library's table with sqlite3, in one transaction."""
    con = sqlite3.connect(path)
    columns = [(row[1], row[2].upper()) for row in con.execute('PRAGMA table_info("%s")' % table)]

    def value(name, kind, i, k):
        if name == "Eintrag":
            return i + 1
        if name == "ElementName":
            return "Element %d" % i
        if name == "Kommentar":
            return "measured at point %d" % (i % 97)
        if name == "LastChangeDateTime":
            return "2024-03-%02dT09:30:00" % (1 + i % 28)
        if kind == "REAL":
            return round(40 + (i * 7 + k) % 500 * 0.1, 1)
        if kind == "INTEGER":
            return (i + k) % 3
        return None

    names = ", ".join('"%s"' % n for n, _ in columns)
    marks = ", ".join("?" for _ in columns)
    rows = ([value(n, kind, i, k) for k, (n, kind) in enumerate(columns)] for i in range(records))
    with con:
        con.executemany('INSERT INTO "%s" (%s) VALUES (%s)' % (table, names, marks), rows)
    con.close()
    return len(columns)


def frame_round(module_dir, method, path, table):
    done = subprocess.run([sys.executable, "-c", FRAME_CHILD, module_dir, method, path, table],
                          capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("reading with %s failed:\n%s" % (method, done.stderr))
    seconds, megabytes, rows, columns = done.stdout.split()
    return float(seconds), float(megabytes), int(rows), int(columns)


def compare_frames(module_dir, records, rounds, veziru):
    try:
        import pandas  # noqa: F401
    except ImportError:
        print("pandas is not installed: no DataFrame comparison")
        return
    with tempfile.TemporaryDirectory() as folder:
        lib = veziru.create_library("ltEmis", folder)
        path, table = lib.path, os.path.basename(lib.path)
        lib.close()
        start = time.perf_counter()
        fields = fill_every_field(path, table, records)
        print("filled %d records x %d fields with sqlite3 in %.1f s" % (records, fields, time.perf_counter() - start))
        best_time, best_memory = {}, {}
        for _ in range(rounds):
            for method in ("to_pandas", "read_sql"):
                seconds, megabytes, rows, columns = frame_round(module_dir, method, path, table)
                assert (rows, columns) == (records, fields), (method, rows, columns)
                best_time[method] = min(best_time.get(method, seconds), seconds)
                best_memory[method] = min(best_memory.get(method, megabytes), megabytes)
        for method in ("to_pandas", "read_sql"):
            print("%-18s %7.3f s %8.0f MB" % (method, best_time[method], best_memory[method]))
        print("to_pandas / read_sql: time %.2f, peak memory %.2f" % (
            best_time["to_pandas"] / best_time["read_sql"], best_memory["to_pandas"] / best_memory["read_sql"]))


def compare_positions(veziru, records, reads):
    with tempfile.TemporaryDirectory() as folder:
        lib = veziru.create_library("ltEmis", folder)
        start = time.perf_counter()
        with lib.transaction():
            for i in range(records):
                lib.append({"ElementName": "Element %d" % i, "Values1": i * 0.25})
        print("filled %d records for lib[i] in %.1f s" % (records, time.perf_counter() - start))
        positions = {"start": 0, "middle": records // 2, "end": records - 2}
        times = {name: [] for name in positions}
        for _ in range(reads):
            for name, position in positions.items():
                start = time.perf_counter()
                record = lib[position]
                times[name].append(time.perf_counter() - start)
                assert record["ElementName"] == "Element %d" % position, (position, record["ElementName"])
        lib.close()
    medians = {name: statistics.median(t) for name, t in times.items()}
    for name, t in times.items():
        deciles = statistics.quantiles(t, n=10)
        print("lib[%-7d] %-6s median %.3f ms (p10 %.3f, p90 %.3f)   ratio to the start %.2f" % (
            positions[name], name, medians[name] * 1000, deciles[0] * 1000, deciles[-1] * 1000,
            medians[name] / medians["start"]))


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
    parser.add_argument("--frame-records", type=int, default=300000,
                        help="records of the DataFrame comparison (0 leaves it out)")
    parser.add_argument("--only-frames", action="store_true", help="only the DataFrame comparison")
    parser.add_argument("--position-records", type=int, default=200000,
                        help="records of the lib[i] comparison (0 leaves it out)")
    parser.add_argument("--position-reads", type=int, default=300, help="reads of lib[i] at each position")
    parser.add_argument("--only-positions", action="store_true", help="only the lib[i] comparison")
    args, _ = parser.parse_known_args()  # run-benchmarks passes Google Benchmark's options

    module_dir = os.path.abspath(args.module_dir or build_module(args.build_dir))
    sys.path.insert(0, module_dir)
    import veziru

    if args.position_records > 0 and not args.only_frames:
        compare_positions(veziru, args.position_records, args.position_reads)
    if args.only_positions:
        return
    if args.frame_records > 0:
        compare_frames(module_dir, args.frame_records, args.rounds, veziru)
    if args.only_frames:
        return

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
