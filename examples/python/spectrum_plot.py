#!/usr/bin/env python3
"""Converts a copy of the sample Paradox libraries, lists the emission library with pandas and plots the
spectrum of its first element (the bands its record holds, as `vezi spectrum` shows them), A-weighted, into a
PNG file.

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

    library = os.path.join(folder, "emis.abs")
    with veziru.open_library(library, read_only=True) as lib:
        try:
            import pandas  # noqa: F401
        except ImportError:
            print("pandas is not installed: the records are listed as dicts")
            for record in lib:
                print(record["Eintrag"], record["ElementName"], record["Values0"])
        else:
            frame = lib.to_pandas()
            print(frame[["Eintrag", "ElementName", "Terz", "Lower", "Upper", "Values0"]].to_string(index=False))
        first = lib[0]["Eintrag"]

    # The bands from Lower to Upper of the record, as `vezi spectrum` shows them.
    spectrum = veziru.spectrum(library, first)
    name, bands, levels = spectrum.name, spectrum.bands, list(spectrum.values)
    weighted = [level + a for level, a in zip(levels, veziru.a_weighting(bands))]
    print("%s: %.1f dB, %.1f dB(A) in %d %s bands" % (name, veziru.energetic_sum(levels),
                                                     veziru.energetic_sum(weighted), len(bands), spectrum.kind))

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot")
        return
    fig, ax = plt.subplots(figsize=(9, 4))
    positions = range(len(bands))
    ax.bar(positions, levels, color="#9bb", label="unweighted")
    ax.plot(positions, weighted, "o-", color="#c33", label="A-weighted")
    ax.set_xticks(list(positions), ["31.5" if b == 31 else str(b) for b in bands], rotation=90, fontsize=7)
    ax.set_xlabel("%s band in Hz" % spectrum.kind)
    ax.set_ylabel("level in dB")
    ax.set_title(name)
    ax.legend()
    fig.tight_layout()
    png = os.path.join(out, "spectrum.png")
    fig.savefig(png, dpi=100)
    print("plot:", png)


if __name__ == "__main__":
    main()
