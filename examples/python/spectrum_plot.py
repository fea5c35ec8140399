#!/usr/bin/env python3
"""Converts a copy of the sample Paradox libraries, loads the emission library into pandas and plots the
third-octave spectrum of one element, A-weighted, into a PNG file.

    PYTHONPATH=build/python/package python3 examples/python/spectrum_plot.py [OUTPUT_FOLDER]

The output folder (default: spectrum-example) receives the converted libraries and spectrum.png. Without
pandas or matplotlib the script says so and does what it can without them.
"""
import os
import shutil
import sys

import veziru

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "paradox-libs")


def main():
    out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "spectrum-example")
    folder = os.path.join(out, "paradox-libs")
    if not os.path.isdir(folder):
        shutil.copytree(SAMPLES, folder)  # the samples themselves stay as they are
    report = veziru.convert(folder, recursive=True,
                            progress=lambda table, done, total: print("\r%d/%d tables" % (done, total), end=""))
    converted = sum(t["converted"] for t in report["tables"])
    print("\nconverted %d of %d tables, log %s" % (converted, len(report["tables"]), report["log"]))

    lib = veziru.open_library(os.path.join(folder, "emis.abs"), read_only=True)
    try:
        import pandas  # noqa: F401
    except ImportError:
        print("pandas is not installed: the records stay a list of dicts")
        records = lib.to_records()
        names = [r["ElementName"] for r in records]
        levels = [[r["Values%d" % k] for k in range(1, 31)] for r in records]
    else:
        frame = lib.to_pandas()
        print(frame[["Eintrag", "ElementName", "Values0"]].to_string(index=False))
        names = list(frame["ElementName"])
        levels = frame[["Values%d" % k for k in range(1, 31)]].values.tolist()

    name, spectrum = names[0], levels[0]
    bands = veziru.THIRD_OCTAVE_BANDS
    weighted = [level + a for level, a in zip(spectrum, veziru.a_weighting(bands))]
    print("%s: %.1f dB, %.1f dB(A)" % (name, veziru.energetic_sum(spectrum), veziru.energetic_sum(weighted)))

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot")
        return
    fig, ax = plt.subplots(figsize=(9, 4))
    positions = range(len(bands))
    ax.bar(positions, spectrum, color="#9bb", label="unweighted")
    ax.plot(positions, weighted, "o-", color="#c33", label="A-weighted")
    ax.set_xticks(list(positions), [str(b) for b in bands], rotation=90, fontsize=7)
    ax.set_xlabel("third-octave band / Hz")
    ax.set_ylabel("level / dB")
    ax.set_title(name)
    ax.legend()
    fig.tight_layout()
    png = os.path.join(out, "spectrum.png")
    fig.savefig(png, dpi=100)
    print("plot:", png)


if __name__ == "__main__":
    main()
