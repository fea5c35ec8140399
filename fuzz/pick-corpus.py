#!/usr/bin/env python3
"""pick-corpus.py CONTROL_FILE MAX_FILES: the inputs of a libFuzzer merge control file that cover the most edges,
chosen greedily (each time the file that adds the most edges not yet covered, the smaller one on a tie) until
MAX_FILES are chosen or no file adds an edge; prints their paths, one a line, and the coverage on stderr."""
import os
import sys


def main():
    control, limit = sys.argv[1], int(sys.argv[2])
    with open(control) as f:
        lines = f.read().splitlines()
    count = int(lines[0])
    paths = lines[2:2 + count]
    edges = {}
    for line in lines[2 + count:]:
        parts = line.split()
        if parts and parts[0] == "COV":
            edges[int(parts[1])] = set(parts[2:])
    everything = set().union(*edges.values()) if edges else set()
    covered, chosen = set(), []
    while len(chosen) < limit:
        best = max(edges, default=None,
                   key=lambda i: (len(edges[i] - covered), -os.path.getsize(paths[i])))
        if best is None or not edges[best] - covered:
            break
        covered |= edges.pop(best)
        chosen.append(paths[best])
    print("\n".join(chosen))
    print("%d files cover %d of %d edges" % (len(chosen), len(covered), len(everything)), file=sys.stderr)


if __name__ == "__main__":
    main()
