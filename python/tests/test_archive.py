"""Archives: several folders in one call, and the Dask recipe on a LocalCluster; every library against its
source table."""
import csv
import os
import shutil
import subprocess
import sys

import pytest
import veziru
from conftest import SOURCE

SAMPLES = os.path.join(SOURCE, "examples", "paradox-libs")
TABLES = ["emis", "Absor", "Time", "Wind", "Traffic", "TNMVeh", "X.run", "RREC0001.tdb"]


def make_archive(root, projects=8):
    """Project folders of three or four sample tables each, every second one with a subfolder of its own."""
    folders = []
    for k in range(projects):
        folder = root / ("project%d" % k) / ("berichte" if k % 2 else "")
        folder.mkdir(parents=True)
        for name in TABLES[k % 5:k % 5 + 3 + k % 2]:
            stem = name if "." in name else name + ".db"
            for companion in (stem, os.path.splitext(stem)[0] + ".mb"):
                if os.path.exists(os.path.join(SAMPLES, companion)):
                    shutil.copy(os.path.join(SAMPLES, companion), folder / companion)
        folders.append(str(folder))
    return folders


def assert_library_holds_its_table(source, target):
    table = veziru.read_paradox(source)
    with veziru.open_library(target) as lib:
        records = lib.to_records()
    assert len(records) == len(table.rows), target
    names = [f.name for f in table.fields]
    for row, record in zip(table.rows, records):
        for name, value in zip(names, row):
            if value not in (None, "") and name in record:
                assert record[name] == value, (target, name)


def test_several_folders_in_one_call(tmp_path):
    folders = make_archive(tmp_path, projects=3)
    reports = veziru.convert(folders, jobs=2)
    assert [r["log"] for r in reports] == [os.path.join(f, "Convert.log") for f in folders]
    for report in reports:
        assert report["tables"] and all(t["complete"] for t in report["tables"])
    with pytest.raises(ValueError):
        veziru.convert(folders, jobs=0)
    with pytest.raises(veziru.Error):
        veziru.convert([folders[0], folders[0]])


def test_archive_on_a_dask_cluster(tmp_path):
    make_archive(tmp_path / "archive")
    script = os.path.join(SOURCE, "examples", "python", "convert_archive_dask.py")
    run = subprocess.run([sys.executable, script, str(tmp_path / "archive"), "--workers", "2", "--jobs", "2",
                          "--csv", str(tmp_path / "report.csv")], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    with open(tmp_path / "report.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert len({row["folder"] for row in rows}) == 8
    assert {row["outcome"] for row in rows} == {"converted"}
    for row in rows:
        assert_library_holds_its_table(row["source"], row["target"])
