import json
import struct
import os

import pytest
import veziru
from conftest import SOURCE, vezi

SPREADSHEETS = os.path.join(SOURCE, "tests", "data", "spreadsheet")
EXAMPLES = os.path.join(SOURCE, "examples", "import")


def test_read_sheet_gives_the_grid_of_texts():
    sheet = veziru.read_sheet(os.path.join(SPREADSHEETS, "biff5.xls"))
    assert sheet.file_type == "Excel 5.0"
    assert sheet.columns == ["A", "B", "C", "D", "E", "F"][:len(sheet.columns)]
    assert sheet.rows[0][:2] == ["Привет", "reich"]
    assert sheet.rows[2][:3] == ["01:30:00", "Ergebnis", "True"]
    assert all(len(row) == len(sheet.columns) for row in sheet)
    pandas = pytest.importorskip("pandas")
    frame = sheet.to_pandas()
    assert isinstance(frame, pandas.DataFrame) and frame.shape == (len(sheet), len(sheet.columns))


def test_read_sheet_reads_the_sheet_and_separator_given(tmp_path):
    book = os.path.join(SOURCE, "tests", "data", "conformance", "cover-sheet.xlsx")  # a cover page first
    assert veziru.read_sheet(book, sheet="Spectra").rows[0][:2] == veziru.read_sheet(book, sheet=2).rows[0][:2] == \
        ["ElementName", "Values8"]
    text = tmp_path / "both.txt"
    text.write_text("a;b\tc\nd;e\tf\n")  # tabs would be detected
    assert veziru.read_sheet(text, separator=";").rows == [["a", "b\tc"], ["d", "e\tf"]]


def test_text_limit_and_code_page_are_the_library_s(tmp_path):
    text = tmp_path / "big.txt"
    text.write_bytes(b"Name\tCaf\xe9\n" + (b"x" * 20000 + b"\n") * 100)
    with pytest.raises(veziru.Error, match=r"^The file is not UTF-8: the byte 0xE9 at byte offset 8 \(line 1\)"):
        veziru.read_sheet(text)
    with pytest.raises(veziru.Error, match="more than 1 MB of text, the limit of the import"):
        veziru.read_sheet(text, 1252, text_limit=1)
    assert veziru.read_sheet(text, 1252, text_limit=1 << 30).rows[0][1] == "Café"  # the most a limit can be
    # The arguments are checked before the file (here a missing one).
    with pytest.raises(ValueError, match="The text limit must be a number of MB from 1 to 1073741824, not 0"):
        veziru.import_file(tmp_path / "none.txt", tmp_path / "emis.abs", auto_link=True, text_limit=0)
    with pytest.raises(ValueError, match="The text limit must be a number of MB from 1 to 1073741824, not 0"):
        veziru.read_sheet(tmp_path / "none.txt", text_limit=0)


def test_import_file_reports_as_the_command_does(tmp_path):
    text = tmp_path / "in.txt"
    text.write_bytes(b"ElementName\tValues0\nA\t1\nB\tloud\n\t\nC\t3\n")
    ours = veziru.import_file(str(text), str(tmp_path / "py" / "emis.abs"), auto_link=True)
    vezi("import", str(text), "--into", str(tmp_path / "cli" / "emis.abs"), "--auto-link", "--on-exists", "skip",
         "--report", str(tmp_path / "r.json"), check=False)
    theirs = json.loads((tmp_path / "r.json").read_text())
    for report in (ours, theirs):
        del report["library"]
    assert ours == theirs
    assert (ours["added"], ours["failed"], ours["empty_lines"]) == (2, 1, 1)
    again = veziru.import_file(os.path.join(EXAMPLES, "spectra.xls"), str(tmp_path / "py" / "emis.abs"),
                               map={"ElementName": "A"}, auto_link=True, stop=3, on_exists="rename")
    assert (again["added"], again["last_line"], again["file_type"]) == (2, 3, "Excel 97")
    with pytest.raises(veziru.Error, match="encrypted.*cannot be opened"):
        veziru.import_file(os.path.join(SPREADSHEETS, "encrypted.xlsx"), str(tmp_path / "emis.abs"), auto_link=True)
    with pytest.raises(ValueError):
        veziru.import_file(str(text), str(tmp_path / "emis.abs"), auto_link=True, on_exists="ask")
    with pytest.raises(veziru.InOutError, match="Is a directory"):  # before the library of no known type
        veziru.import_file(str(tmp_path), str(tmp_path / "x.abs"), auto_link=True)


def test_import_texts_hold_both_tables():
    texts = veziru.import_texts()
    assert texts["dialogs"]["strStartLine"] == "Start Import From Line#"
    assert texts["wizard"]["strSheetName"] == "Sheet"


@pytest.mark.parametrize("units, cell", [
    ([0xD800, 0x79], "\ufffdy"),  # a high surrogate without its low one
    ([0xDC00, 0x79], "\ufffdy"),  # a low one alone
    ([0xD83D, 0xDE00, 0x79], "\U0001F600y"),  # a pair
    ([0x79, 0xD800], "y\ufffd"),  # a high one at the end of the cell
])
def test_utf16_text_with_a_lone_surrogate_changes_only_its_own_character(tmp_path, units, cell):
    path = tmp_path / "utf16.txt"
    units = [ord(c) for c in "A\tB\nx"] + units + [ord(c) for c in "\tz\nw\tv\n"]
    path.write_bytes(b"\xff\xfe" + b"".join(u.to_bytes(2, "little") for u in units))
    sheet = veziru.read_sheet(str(path))
    assert (sheet.rows, sheet.separator) == ([["A", "B"], ["x" + cell, "z"], ["w", "v"]], "tab")


def test_a_workbook_cut_anywhere_is_cut_short(tmp_path):
    data = open(os.path.join(SPREADSHEETS, "biff8.xls"), "rb").read()
    table, directory = struct.unpack_from("<I", data, 76)[0], struct.unpack_from("<I", data, 48)[0]
    # The first sector missing is the sector table's or the directory's own: each is named.
    named = {512 + 512 * table: "the sector table lies beyond its end",
             512 + 512 * directory: "the directory lies beyond its end"}
    path = tmp_path / "cut.xls"
    for cut in range(256, len(data) - 256, 256):  # the last half sector holds nothing of the workbook
        path.write_bytes(data[:cut])
        with pytest.raises(veziru.Error) as refused:
            veziru.read_sheet(str(path))
        assert str(refused.value).startswith("The file is cut short"), (cut, str(refused.value))
        assert named.get(cut, "") in str(refused.value), cut
