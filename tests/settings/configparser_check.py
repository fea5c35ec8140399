#!/usr/bin/env python3
"""Reads the files that settings_sample_writer writes with Python's configparser, an INI reader of its own."""
import configparser
import os
import subprocess
import sys
import tempfile


def read(path):
    parser = configparser.ConfigParser(interpolation=None, delimiters=("=",), comment_prefixes=(";",),
                                       inline_comment_prefixes=None, strict=True, empty_lines_in_values=False)
    parser.optionxform = str  # keep the letter case of the keys
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    return parser


def expect(actual, expected, what):
    if actual != expected:
        raise AssertionError(f"{what}: expected {expected!r}, got {actual!r}")


def main():
    writer = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        out = subprocess.run([writer, folder], check=True, capture_output=True, text=True).stdout.strip()

        project = read(os.path.join(folder, "Project.tp"))
        expect(project.sections(), ["usages", "time slices DEN"], "project sections")
        usages = project["usages"]
        expect(len(usages), 50, "usage keys")
        expect(list(usages)[:4], ["GI.Short", "GI.Descr", "GE.Short", "GE.Descr"], "usage key order")
        expect(usages["GI.Short"], "GI-x", "GI.Short")
        expect(usages["GE.Descr"], "Gewerbe; Handel = Büro", "GE.Descr")
        expect(usages["Z7.Descr"], '"  padded  "', "Z7.Descr (quoted to keep its blanks)")
        expect(usages["EF.Descr"], "Cemetary", "EF.Descr")
        slices = project["time slices DEN"]
        expect(dict(slices), {"DayIdent": "6-22", "EveningIdent": "19-23", "NightIdent": "22-24;0-6"}, "slices")

        user = read(os.path.join(folder, "home", "Orvelle", "Tessaphon 7.1.ini"))
        expect(dict(user["program"]), {"HelpFile": "manual.pdf", "SystemPathLang": "ENG_US", "LIBPATHLANG": "DEU"},
               "program section")
        expect(user["system"]["ClipPlane3D"], "0.125", "ClipPlane3D")
        expect(dict(user["DC"]), {"ClientSocket": "4711", "Reconnect": "1"}, "DC section")

        ini_file = os.path.join(folder, "TPEssential.ini")
        expect(out, ini_file, "program INI file name")
        expect(dict(read(ini_file)["program"]), {"HelpFile": "essential.pdf"}, "program INI file")
    print("configparser read back every value: 1 passed, 0 failed")


if __name__ == "__main__":
    main()
