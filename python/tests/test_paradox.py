import os

import pytest
import veziru
from conftest import PARADOX, assert_records_equal, dump_json, expect_error, latin1_text

TABLES = ["generated/alltypes.db", "generated/alltypes_v4.db", "generated/alltypes_v5.db", "generated/deleted.db",
          "generated/empty.db", "generated/multiblock.db", "paradoxdriver/CUSTOMER.DB", "paradoxReader/SYMBOLS.DB"]


@pytest.mark.parametrize("name", TABLES)
def test_values_equal_the_dump(name):
    path = os.path.join(PARADOX, name)
    table = veziru.read_paradox(path)
    assert_records_equal(table.to_records(), dump_json(path))
    assert [tuple(r.values()) for r in table] == table.rows
    assert len(table.fields) == len(table.names) and not table.records_missing


def test_raw_text_gives_the_bytes():
    path = os.path.join(PARADOX, "generated/alltypes.db")
    raw = veziru.read_paradox(path, raw_text=True)
    char = [i for i, f in enumerate(raw.fields) if f.type == "Char"][0]
    values = [row[char] for row in raw.rows if row[char] is not None]
    assert values and all(isinstance(v, bytes) for v in values)
    expected = dump_json(path, "--raw-text")
    assert [latin1_text(v) for v in values] == [r[raw.names[char]] for r in expected if r[raw.names[char]] is not None]
    for code_page, text in ((None, veziru.read_paradox(path)), (866, veziru.read_paradox(path, code_page=866))):
        assert [row[char] for row in text.rows] == [r.decode(f"cp{code_page or 1252}") if r is not None else None
                                                     for r in (row[char] for row in raw.rows)]


def test_encrypted_table_needs_its_password():
    path = os.path.join(PARADOX, "generated/multiblock_enc.db")
    assert veziru.read_paradox(path, password="vez-secret").rows == \
        veziru.read_paradox(os.path.join(PARADOX, "generated/multiblock.db")).rows
    with pytest.raises(veziru.Error):
        veziru.read_paradox(path, password="wrong")


def test_failures(tmp_path):
    missing = str(tmp_path / "none.db")
    expect_error(ValueError, "The code page 7 cannot be converted (give a Windows code page number such as 1252, 850 "
                 "or 932)", veziru.read_paradox, missing, code_page=7)
    garbage = tmp_path / "garbage.db"
    garbage.write_bytes(b"\x00" * 10)
    expect_error(veziru.Error, "'%s' is not a Paradox table" % garbage, veziru.read_paradox, garbage)


def test_to_pandas():
    pytest.importorskip("pandas")
    table = veziru.read_paradox(os.path.join(PARADOX, "paradoxdriver/CUSTOMER.DB"))
    frame = table.to_pandas()
    assert frame.shape == (len(table.rows), len(table.fields))
