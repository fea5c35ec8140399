import os
import shutil

import pytest
import veziru
from conftest import assert_records_equal, dump_json, expect_error, vezi


def libraries(folder):
    return sorted(os.path.join(root, name) for root, _, names in os.walk(folder) for name in names
                  if os.path.splitext(name)[1].lower() in (".abs", ".runx", ".sdbx", ".tabs"))


def test_values_equal_the_dump_of_every_sample_library(samples):
    folder, _ = samples
    paths = libraries(folder)
    assert len(paths) >= 8
    for path in paths:
        with veziru.open_library(path, read_only=True) as lib:
            expected = dump_json(path)
            assert_records_equal(lib.to_records(), expected)
            assert_records_equal(list(lib), expected)
            assert len(lib) == len(expected)
            assert [f.name for f in lib.fields] == list(expected[0]) if expected else True


def test_records_past_the_reading_chunks_equal_the_dump(tmp_path):
    """4 500 records: more than two of the chunks of 2 048 rows the module reads at a time, each record other."""
    lines = ["ElementName\tValues1\tKommentar"] + [f"n{i}\t{i % 97}.5\t{'c' * (i % 7)}" for i in range(4500)]
    (tmp_path / "in.txt").write_text("\n".join(lines) + "\n")
    path = str(tmp_path / "emis.abs")
    vezi("import", str(tmp_path / "in.txt"), "--into", path, "--auto-link")
    expected = dump_json(path)
    with veziru.open_library(path, read_only=True) as lib:
        assert_records_equal(lib.to_records(), expected)
        assert_records_equal(list(lib), expected)
        with pytest.raises(veziru.DatabaseError, match="cannot modify a read-only dataset"):
            lib.append({"ElementName": "refused"})
        frame = lib.to_pandas() if pytest.importorskip("pandas") else None
        assert list(frame["Values1"]) == [r["Values1"] for r in expected]
        assert list(frame["ElementName"]) == [r["ElementName"] for r in expected]


def test_type_fields_and_indexes(samples):
    folder, _ = samples
    with veziru.open_library(str(folder / "emis.abs")) as lib:
        assert (lib.type, lib.type_name) == (0, "ltEmis")
        assert lib.fields[0] == veziru.Field("Eintrag", "autoinc", 0, False)
        assert veziru.Index("p", ("Eintrag",), ("primary",)) in lib.indexes
    assert veziru.lib_type("X.run") == veziru.lib_type("a.runx") == 80
    assert veziru.lib_type("notes.txt") is None
    assert veziru.lib_type_name(0) == "ltEmis" and veziru.lib_type_name(18) is None


def test_transaction_commits_or_leaves_the_library_unchanged(tmp_path):
    lib = veziru.create_library("ltEmis", str(tmp_path), with_defaults=True)
    before = lib.to_records()
    with pytest.raises(ZeroDivisionError):
        with lib.transaction():
            lib.append({"ElementName": "Fan", "Values1": 50.5})
            lib.edit(0, {"ElementName": "Changed"})
            assert [r["ElementName"] for r in lib] == ["Changed", "Fan"]  # seen inside the transaction
            1 / 0
    assert lib.to_records() == before
    with lib.transaction():
        lib.append({"ElementName": "Fan", "Values1": 50.5})
        lib.delete(0)
    lib.close()
    records = veziru.open_library(str(tmp_path / "emis.abs")).to_records()
    assert [(r["ElementName"], r["Values1"]) for r in records] == [("Fan", 50.5)]
    assert records[0]["Terz"] is True  # a default of the new record


def test_a_library_under_a_name_of_its_own_knows_its_type(tmp_path):
    lib = veziru.create_library("ltAbsor", tmp_path, file_name="walls.abs")
    assert (lib.type_name, os.path.basename(lib.path)) == ("ltAbsor", "walls.abs")
    lib.close()
    assert veziru.open_library(tmp_path / "walls.abs").type_name == "ltAbsor"


def test_failures_raise_the_library_exceptions(tmp_path):
    assert issubclass(veziru.InOutError, OSError) and issubclass(veziru.DatabaseError, veziru.Error)
    expect_error(ValueError, "unknown library type 'ltNone' (give a code 0 to 103 or a constant name such as ltEmis)",
                 veziru.create_library, "ltNone", str(tmp_path))
    for wrong in (True, 3.0, None):  # neither a code nor a name
        with pytest.raises(TypeError):
            veziru.create_library(wrong, str(tmp_path))
    lib = veziru.create_library(0, str(tmp_path))
    expect_error(veziru.Error, "'%s' already exists; it is left as it is" % lib.path,
                 veziru.create_library, "ltEmis", str(tmp_path))
    expect_error(ValueError, 'The library has no field "Nope"', lib.append, {"Nope": 1})
    with pytest.raises(veziru.ConvertError):
        lib.append({"Values1": "not a number"})
    with pytest.raises(TypeError):
        lib.append({"ElementName": object()})
    with pytest.raises(IndexError):
        lib.edit(5, {})
    assert len(lib) == 0  # nothing half-posted
    for name in ("A", "B", "C"):
        lib.append({"ElementName": name})
    records = iter(lib)
    assert next(records)["ElementName"] == "A"
    lib.close()
    closed = "the library '%s' is closed" % lib.path
    for call in (len, next, iter):  # an iterator holding buffered records raises at once too
        expect_error(veziru.Error, closed, call, records if call is next else lib)


def test_to_pandas_equals_the_frame_of_the_records(samples, tmp_path):
    pandas = pytest.importorskip("pandas")
    folder, _ = samples
    path = tmp_path / "emis.abs"
    shutil.copy(folder / "emis.abs", path)
    with veziru.open_library(path) as lib:
        lib.append({"ElementName": "Half empty", "Values1": None, "Symbol": None, "Terz": None})
        frame = lib.to_pandas()
        expected = pandas.DataFrame.from_records(lib.to_records(), columns=[f.name for f in lib.fields])
    pandas.testing.assert_frame_equal(frame, expected, check_dtype=False)  # a column without values is float64
    assert [str(frame[c].dtype) for c in ("Eintrag", "Values2", "Symbol", "Terz", "LastChangeDateTime")] == [
        "int64", "float64", "float64", "object", "datetime64[ns]"]


def test_append_frame_stores_every_row_under_the_record_rules_or_none(tmp_path):
    pandas = pytest.importorskip("pandas")
    lib = veziru.create_library("ltEmis", str(tmp_path))
    frame = pandas.DataFrame({"ElementName": ["Fan", "Pump"], "Values5": [63.5, float("nan")],
                              "Values6": [64.0, 70.0]})
    assert lib.append_frame(frame) == [1, 2]
    fan, pump = lib.to_records()
    assert (fan["Lower"], fan["Upper"], fan["Komplett"]) == (4, 5, True)  # bands counted from 0
    assert (pump["Values5"], pump["Lower"], pump["Upper"]) == (-199.0, 5, 5)  # NaN is no value
    # A refused row (an empty name) leaves the library as it was, and the note names the row.
    with pytest.raises(ValueError) as caught:
        veziru.append_frame(lib, pandas.DataFrame({"ElementName": ["Fine", " "]}))
    assert "in the frame's row at position 1; nothing of the frame was stored" in caught.value.__notes__
    assert len(lib) == 2
    # Inside the caller's transaction the rows before a refused one (a name the library holds) wait for the
    # caller's decision.
    with pytest.raises(veziru.DatabaseError) as caught:
        with lib.transaction():
            lib.append_frame(pandas.DataFrame({"ElementName": ["Kept", "Fan"]}))
    assert "the rows before it are in the open transaction" in caught.value.__notes__[0]
    assert len(lib) == 2
    expect_error(TypeError, "append_frame takes a pandas DataFrame, not dict", lib.append_frame, {"ElementName": []})
    # A name longer than its field is refused, or cut with truncate=True, by the method and the function alike.
    expect_error(ValueError, 'The field "ElementName" holds at most 80 characters, the text has 81', lib.append_frame,
                 pandas.DataFrame({"ElementName": ["x" * 81]}))
    lib.append_frame(pandas.DataFrame({"ElementName": ["x" * 81]}), truncate=True)
    veziru.append_frame(lib, pandas.DataFrame({"ElementName": ["y" * 81]}), truncate=True)
    assert [r["ElementName"] for r in lib.to_records()] == ["Fan", "Pump", "x" * 80, "y" * 80]
