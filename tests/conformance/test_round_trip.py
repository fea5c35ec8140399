"""Export is specified by its round trip: a library exported with `vezi export` and imported with `--auto-link`
into a new library of its type is the same library, cell for cell (apart from the times of change), for every
library the samples hold; and three cells changed in the exported workbook change exactly those three cells
when the workbook is imported back with "Overwrite all"."""
import os
import shutil
import subprocess

import openpyxl
import pytest
import veziru

VEZI = os.environ["VEZI"]
EXAMPLES = os.environ["VEZ_EXAMPLES_DIR"]
TIMES = {"LastChangeDateTime"}


def vezi(*args, cwd=None):
    run = subprocess.run([VEZI, *map(str, args)], capture_output=True, text=True, cwd=cwd)
    assert run.returncode == 0, (args, run.stdout, run.stderr)
    return run.stdout


def records(path):
    with veziru.open_library(path, read_only=True) as lib:
        return [{k: v for k, v in r.items() if k not in TIMES} for r in lib]


@pytest.fixture(scope="module")
def samples(tmp_path_factory):
    folder = tmp_path_factory.mktemp("round-trip") / "libs"
    shutil.copytree(os.path.join(EXAMPLES, "paradox-libs"), folder)
    vezi("convert", folder, "--recursive")
    libraries = sorted(p for p in folder.rglob("*") if p.is_file() and veziru.lib_type(p.name) is not None
                       and p.suffix.lower() in (".abs", ".tabs", ".runx"))
    assert len(libraries) >= 8
    return folder, libraries


def new_library_like(source, folder):
    """A new, empty library of the source's type: made with its layout by the import, or, for a type without a
    layout of its own (result tables, run files), an emptied copy."""
    target = folder / source.name
    try:
        veziru.create_library(veziru.lib_type(source.name), folder).close()
    except veziru.Error:  # no layout: the fields come from the old table
        shutil.copy(source, target)
        with veziru.open_library(target) as lib, lib.transaction():
            for _ in range(len(lib)):
                lib.delete(0)
    return target


@pytest.mark.parametrize("extension", ["xlsx", "csv", "txt"])
def test_export_then_import_gives_the_library_back(samples, tmp_path, extension):
    folder, libraries = samples
    for n, source in enumerate(libraries if extension == "xlsx" else [p for p in libraries if p.name == "emis.abs"]):
        exported = tmp_path / f"{n}-{source.stem}.{extension}"
        vezi("export", source, exported)
        (tmp_path / "new" / str(n)).mkdir(parents=True)
        target = new_library_like(source, tmp_path / "new" / str(n))
        vezi("import", exported, "--into", target, "--auto-link", "--type", veziru.lib_type(source.name))
        assert records(target) == records(source), source


def test_three_changed_cells_change_exactly_three_cells(samples, tmp_path):
    folder, _ = samples
    library = tmp_path / "emis.abs"
    shutil.copy(folder / "emis.abs", library)
    exported = tmp_path / "emis.xlsx"
    vezi("export", library, exported)
    before = records(library)

    book = openpyxl.load_workbook(exported)
    sheet = book.active
    header = [c.value for c in sheet[1]]
    changes = {(2, "Values8"): 70.5, (3, "Kommentar"): "checked on site", (4, "HeightAboveGround"): 3.25}
    for (row, field), value in changes.items():
        sheet.cell(row=row, column=header.index(field) + 1, value=value)
    book.save(exported)

    vezi("import", exported, "--into", library, "--auto-link", "--on-exists", "overwrite")
    after = records(library)
    changed = {(i + 2, k): after[i][k] for i in range(len(before)) for k in before[i] if before[i][k] != after[i][k]}
    assert changed == changes
