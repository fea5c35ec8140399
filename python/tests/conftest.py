"""Shared fixtures: the vezi tool for reference dumps, the test data, and a converted copy of the samples."""
import base64
import datetime
import json
import math
import os
import shutil
import subprocess

import pytest
import veziru

SOURCE = os.environ.get("VEZ_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
PARADOX = os.path.join(SOURCE, "tests", "data", "paradox")


def vezi(*args, check=True):
    run = subprocess.run([os.environ["VEZI"], *args], capture_output=True)
    if check:
        assert run.returncode == 0, run.stderr.decode()
    return run


def dump_json(path, *options):
    """The records of a library or Paradox table as `vezi dump --format json` gives them."""
    return json.loads(vezi("dump", path, "--format", "json", *options).stdout)


def latin1_text(data):
    """Bytes as the dump writes text: valid UTF-8 kept, every other byte as the character of its number."""
    return data.decode("utf-8", errors="surrogateescape").translate({0xDC00 + b: b for b in range(0x80, 0x100)})


def time_iso(t):
    return t.strftime("%H:%M:%S") + (".%03d" % (t.microsecond // 1000) if t.microsecond else "")


def same_as_dump(value, expected):
    """Whether a value read through the module is the one `vezi dump --format json` printed."""
    if isinstance(value, float) and not math.isfinite(value):
        return expected is None
    if isinstance(value, datetime.datetime):
        return expected == value.date().isoformat() + "T" + time_iso(value.time())
    if isinstance(value, datetime.date):
        return expected == value.isoformat() + "T00:00:00"
    if isinstance(value, datetime.time):
        return expected == "1899-12-30T" + time_iso(value)
    if isinstance(value, bytes):
        return expected in (base64.b64encode(value).decode(), latin1_text(value))
    return type(value) is type(expected) and value == expected or (
        isinstance(value, float) and isinstance(expected, int) and value == expected)


def assert_records_equal(records, expected):
    assert len(records) == len(expected)
    for number, (record, reference) in enumerate(zip(records, expected)):
        assert list(record) == list(reference), number
        wrong = {k: (v, reference[k]) for k, v in record.items() if not same_as_dump(v, reference[k])}
        assert not wrong, (number, wrong)


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """The sample Paradox folder, converted by the module; the report of the run."""
    folder = tmp_path_factory.mktemp("samples") / "paradox-libs"
    shutil.copytree(os.path.join(SOURCE, "examples", "paradox-libs"), folder)
    report = veziru.convert(str(folder), recursive=True)
    return folder, report


def expect_error(kind, message, fn, *args, **kwargs):
    """fn(*args) raises exactly `kind` with the message."""
    with pytest.raises(kind) as caught:
        fn(*args, **kwargs)
    assert type(caught.value) is kind and str(caught.value) == message
