"""The Python conventions of the module: the OS errors for files, path-like arguments, record positions, values
checked against their fields, single-precision results as their decimals, and text that is not UTF-8."""
import json
import math
import os
import pathlib
import shutil
import sqlite3

import pytest
import veziru
from conftest import SOURCE, dump_json, expect_error, vezi


def test_files_raise_the_os_errors(tmp_path):
    missing = tmp_path / "none.abs"
    for call in (veziru.open_library, veziru.read_paradox, veziru.convert,
                 lambda path: veziru.create_library("ltEmis", path),
                 lambda path: veziru.spectrum(path, 1),
                 lambda path: veziru.tnm(speed=50, library=path, record=1)):
        with pytest.raises(FileNotFoundError) as caught:
            call(missing)
        assert isinstance(caught.value, veziru.InOutError) and caught.value.filename == str(missing)


@pytest.mark.skipif(os.geteuid() == 0, reason="root may read and write every file")
def test_a_file_that_may_not_be_written_is_a_permission_error(samples, tmp_path):
    path = tmp_path / "emis.abs"
    shutil.copy(samples[0] / "emis.abs", path)
    path.chmod(0o444)
    with pytest.raises(PermissionError):
        veziru.open_library(path)
    assert len(veziru.open_library(path, read_only=True)) == 6


def test_paths_and_positions(samples):
    folder, _ = samples
    with veziru.open_library(folder / "emis.abs", read_only=True) as lib:
        records = lib.to_records()
        assert lib.path == str(folder / "emis.abs")
        assert [lib[0], lib[-1], lib[1:3], lib[::2]] == [records[0], records[-1], records[1:3], records[::2]]
        for index in (len(records), -len(records) - 1):
            with pytest.raises(IndexError):
                lib[index]
        for change in (lambda: lib.edit(-1, {}), lambda: lib.delete(-1)):  # positions never count from the end
            with pytest.raises(IndexError):
                change()
        with pytest.raises(TypeError):
            lib[True]
    assert len(veziru.read_paradox(pathlib.Path(SOURCE, "examples", "paradox-libs", "emis.db"))) == len(records)
    assert veziru.lib_type(pathlib.PurePath("libs", "emis.abs")) == 0
    expect_error(veziru.Error, "'%s' is not a Paradox table" % (folder / "emis.abs"), veziru.read_paradox,
                 folder / "emis.abs")


# The module's error kinds for the record rules' refusals (their messages are pinned for every front end by
# tests/data/conformance): ValueError, OverflowError for a whole number out of range, ConvertError for a text.
FIELD_ERRORS = [
    ({"Values1": True}, ValueError, 'The field "Values1" takes a number, not True'),
    ({"Lower": 2.7}, ValueError, 'The field "Lower" takes a whole number, not 2.7'),
    ({"Values1": -math.inf}, ValueError, 'The field "Values1" takes a finite number, not NaN or an infinity'),
    ({"Symbol": 2 ** 64}, OverflowError,
     'The field "Symbol" takes a whole number from -2147483648 to 2147483647, not 18446744073709551616'),
    ({"Komplett": 1}, ValueError, 'The field "Komplett" takes True or False, not 1'),
    ({"ElementName": "\ud800"}, UnicodeEncodeError, None),
    ({"Values1": "loud"}, veziru.ConvertError, 'The field "Values1" takes a number, not "loud"'),
    ({"Values1": 1.5}, ValueError, 'The field "ElementName" must not be empty'),
]


def test_values_are_checked_against_their_field(tmp_path):
    lib = veziru.create_library("ltEmis", tmp_path)
    for values, kind, message in FIELD_ERRORS:
        if message is None:
            pytest.raises(kind, lib.append, values)
        else:
            expect_error(kind, message, lib.append, values)
    assert len(lib) == 0
    # NaN is pandas' "no value": -199 in a band; append answers the new record's number.
    assert lib.append({"ElementName": "ü" * 81, "Lower": 3.0, "Values1": "61.5", "Values2": math.nan,
                       "Komplett": True}, truncate=True) == 1
    assert (lib[0]["ElementName"], lib[0]["Lower"], lib[0]["Values1"], lib[0]["Values2"]) == ("ü" * 80, 3, 61.5, -199)
    lib.edit(0, {"ElementName": "e" * 81}, truncate=True)
    assert lib[0]["ElementName"] == "e" * 80
    for index in (10 ** 30, -(2 ** 63) - 1):
        pytest.raises(IndexError, lambda: lib[index])
        pytest.raises(IndexError, lib.edit, index, {})


def test_library_records_and_single_precision_results_agree_with_the_cli(samples):
    folder, _ = samples
    assert list(veziru.a_weighting([63, 125, 4000])) == [-26.2, -16.1, 1.0]
    spectrum = veziru.spectrum(folder / "emis.abs", 11)
    protocol = vezi("spectrum", str(folder / "emis.abs"), "11").stdout.decode().splitlines()
    assert (spectrum.name, spectrum.kind) == ("Lüftungsanlage Dach", "octave")
    assert list(zip(spectrum.bands, spectrum.values)) == [
        (float(line.split("Hz")[0]) if "31Hz" not in line else 31.5, float(line.split()[-1])) for line in protocol[1:]]
    level, bands = veziru.tnm(pavement="avg", speed=80, library=folder / "TNMVeh.abs", record=11)
    cli = json.loads(vezi("tnm", "--library", str(folder / "TNMVeh.abs"), "--record", "11", "--pavement", "avg",
                          "--speed", "80", "--format", "json").stdout)
    assert (level, list(bands)) == (cli["sum"], [b["db"] for b in cli["bands"]])
    for speed, message in ((math.nan, "The speed must be a number from 0 to 300 km/h, not NaN"),
                           (1e6, "The speed must be a number from 0 to 300 km/h, not 1000000")):
        expect_error(ValueError, message, veziru.tnm, "auto", "avg", speed)
    pytest.raises(OverflowError, veziru.energetic_sum, [10 ** 400])


def test_text_that_is_not_utf8_reads_as_the_dump_shows_it(tmp_path):
    lib = veziru.create_library("ltEmis", tmp_path)
    lib.append({"ElementName": "x"})
    lib.close()
    path = str(tmp_path / "emis.abs")
    with sqlite3.connect(path) as con:  # another program wrote Windows-1252 bytes as text
        con.execute('UPDATE "emis.abs" SET ElementName = CAST(? AS TEXT)', (b"K\xfchlturm",))
    con.close()
    assert dump_json(path)[0]["ElementName"] == "Kühlturm"
    with veziru.open_library(path) as lib:
        assert lib[0]["ElementName"] == list(lib.to_pandas()["ElementName"])[0] == "Kühlturm"
        with lib.transaction():  # read through the engine
            assert lib.to_records()[0]["ElementName"] == "Kühlturm"
