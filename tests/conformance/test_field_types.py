"""A field of every type saved through every front end: `vezi edit`, the Python module's edit and the browser's
save, each on its copy of one library (a run table holds the fields its Paradox table had: texts, a date, a time,
a date-time, a flag, whole and real numbers, a memo and bytes), give the same cells."""
import datetime
import os
import shutil
import subprocess

import veziru

from test_front_ends import DATA, VEZI, Server

# Field, its value as a person types it (vezi, the browser) and as Python gives it.
FIELDS = [
    ("Name", "Neu", "Neu"),
    ("Day", "2025-01-02", datetime.date(2025, 1, 2)),
    ("Clock", "13:14:15", datetime.time(13, 14, 15)),
    ("Started", "2025-01-02 03:04:05", datetime.datetime(2025, 1, 2, 3, 4, 5)),
    ("Done", "False", False),
    ("Floor", "7", 7),
    ("Level", "1.25", 1.25),
    ("Note", "a memo", "a memo"),
    ("Data", "AwQ=", b"\x03\x04"),
]


def test_every_field_type_through_every_front_end(tmp_path):
    # alltypes.run: a Paradox run table of two records written by tools/pxwriter, converted here.
    libs = {}
    for front_end in ("cli", "python", "http"):
        (tmp_path / front_end).mkdir()
        shutil.copy(os.path.join(DATA, "alltypes.run"), tmp_path / front_end / "All.run")
        subprocess.run([VEZI, "convert", str(tmp_path / front_end)], check=True, capture_output=True)
        libs[front_end] = tmp_path / front_end / "All.runx"
    run = subprocess.run([VEZI, "edit", str(libs["cli"]), "1", *(f"{f}={text}" for f, text, _ in FIELDS)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    with veziru.open_library(str(libs["python"])) as lib:
        lib.edit(0, {f: value for f, _, value in FIELDS})
    server = Server(tmp_path)
    try:
        status, page = server.request("GET", "/api/records", params={"path": "http/All.runx", "limit": 1})
        record = page["records"][0]
        status, answer = server.request("POST", "/api/record/save", {
            "path": "http/All.runx", "key": record["key"], "version": record["version"],
            "values": {f: text for f, text, _ in FIELDS}})
        assert status == 200, answer
    finally:
        server.stop()
    contents = {}
    for front_end, path in libs.items():
        with veziru.open_library(str(path), read_only=True) as lib:
            contents[front_end] = list(lib)
    assert {f: contents["cli"][0][f] for f, _, _ in FIELDS} == {f: value for f, _, value in FIELDS}
    assert contents["cli"] == contents["python"] == contents["http"]
