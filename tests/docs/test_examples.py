"""The examples of README.md and of docs/ run: every block marked `sh`, `shell`, `bash` or `python` is executed,
the blocks of one document in their order in one folder, so an example may use what an earlier one made. The
folder holds the sample data under the names the examples use. A failing example fails the test with its text
and output.

Blocks that cannot run here carry another info string (`console`) on purpose, each listed in ON_PURPOSE with the
reason; the test checks that the list and the documents agree, so no example drops out unnoticed."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(os.environ["VEZ_SOURCE_DIR"])
VEZI = Path(os.environ["VEZI"])
PACKAGE = os.environ["VEZ_PYTHON_PACKAGE"]
RUN = {"sh", "shell", "bash", "python"}
DOCUMENTS = [SOURCE / "README.md", *sorted((SOURCE / "docs").glob("*.md"))]

# The first line of each block marked `console` in a document, and why it does not run in the test.
ON_PURPOSE = {
    "make demo": "runs the whole build and its demo; the test runs inside that build",
    "find archive": "needs GNU parallel, which the test machine need not have",
    "#!/bin/sh": "an SBATCH script for a Slurm cluster",
    "vezi serve build/demo/paradox-libs": "a server that runs until Ctrl-C; tests/web drives it",
    "python3 -m venv": "builds a wheel of the module (minutes); the install test covers the installed tree",
    "cmake --build build": "builds in the build tree, which a test run must not change",
    "PKG_CONFIG_PATH=": "needs the library installed under /opt; tests/install builds such a program",
}


def blocks(document):
    """(info string, first line number, code) of every fenced block."""
    text = document.read_text(encoding="utf-8")
    for match in re.finditer(r"^```([^\n`]*)\n(.*?)^```", text, re.S | re.M):
        yield match.group(1).strip(), text.count("\n", 0, match.start()) + 1, match.group(2)


@pytest.fixture
def folder(tmp_path):
    """The sample data under the names the examples use."""
    samples = SOURCE / "examples" / "paradox-libs"
    (tmp_path / "examples").symlink_to(SOURCE / "examples")
    for target in ("project/libs", "archive/p1", "archive/p2", "libs"):
        shutil.copytree(samples, tmp_path / target)
    (tmp_path / "old").mkdir()
    for name in ("emis.db", "emis.mb"):
        shutil.copy(samples / name, tmp_path / "old")
    for name in ("spectra.xls", "spectra.xlsx"):
        shutil.copy(SOURCE / "examples" / "import" / name, tmp_path)
    for month, rooms in (("march", ("Hall", "Stairs")), ("april", ("Office", "Lobby"))):  # a survey's monthly file
        lines = ["Material;Room;125 Hz"] + [f"Gypsum board {room};{room};0,29" for room in rooms]
        (tmp_path / f"survey-{month}.csv").write_text("\n".join(lines) + "\n", encoding="utf-8")
    subprocess.run([VEZI, "convert", "libs"], cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    return tmp_path


def run(kind, code, cwd):
    environment = dict(os.environ, PATH=f"{VEZI.parent}{os.pathsep}{os.environ['PATH']}", PYTHONPATH=PACKAGE,
                       MPLBACKEND="Agg")
    command = [sys.executable, "-c", code] if kind == "python" else ["bash", "-e", "-o", "pipefail", "-c", code]
    return subprocess.run(command, cwd=cwd, env=environment, capture_output=True, text=True, timeout=300)


@pytest.mark.parametrize("document", DOCUMENTS, ids=lambda d: d.name)
def test_examples_run(document, folder):
    for info, line, code in blocks(document):
        if info in RUN:
            done = run("python" if info == "python" else "sh", code, folder)
            assert done.returncode == 0, (f"{document.name}, the {info} block at line {line} failed:\n{code}\n"
                                          f"--- stdout\n{done.stdout}\n--- stderr\n{done.stderr}")


def test_blocks_that_do_not_run_are_marked_on_purpose():
    marked = {code.splitlines()[0] for document in DOCUMENTS for info, _, code in blocks(document)
              if info == "console"}
    reasons = {first for first in ON_PURPOSE if any(line.startswith(first) for line in marked)}
    assert reasons == set(ON_PURPOSE), f"listed but not marked: {set(ON_PURPOSE) - reasons}"
    assert all(any(line.startswith(first) for first in ON_PURPOSE) for line in marked), marked
