"""One conversion under every front end: `vezi convert`, the Python module's convert and the conversion of
`vezi serve`, each on its copy of the sample tables (and a table encrypted with a password), with the same
options, leave the same files and report the same outcomes; and every option changes what the run does."""
import json
import os
import shutil
import subprocess

import pytest
import veziru

from test_front_ends import VEZI, Server

EXAMPLES = os.environ["VEZ_EXAMPLES_DIR"]
ENCRYPTED = os.path.join(os.environ["VEZ_TEST_DATA_DIR"], "paradox", "generated", "multiblock_enc.db")

# The options and the front ends that offer them (the browser has neither a dry run nor a password).
CASES = [
    ({}, ("cli", "python", "http")),
    ({"recursive": True}, ("cli", "python", "http")),
    ({"delete_old": True}, ("cli", "python", "http")),
    ({"dry_run": True}, ("cli", "python")),
    ({"password": "vez-secret"}, ("cli", "python")),
]


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    base = tmp_path_factory.mktemp("convert")
    server = Server(base)
    yield base, server
    server.stop()


def tables(folder):
    shutil.copytree(os.path.join(EXAMPLES, "paradox-libs"), folder)
    shutil.copy(ENCRYPTED, folder / "Locked.run")


def convert(front_end, folder, options, base, server):
    """The outcome of every table by its name, or None where the front end reports none."""
    if front_end == "cli":
        report = folder.parent / f"{folder.name}.json"
        args = [arg for name, value in options.items()
                for arg in ([f"--{name.replace('_', '-')}"] + ([] if value is True else [value]))]
        subprocess.run([VEZI, "convert", str(folder), "--report", str(report), *args], capture_output=True)
        tables = json.loads(report.read_text())["tables"]
    elif front_end == "python":
        tables = veziru.convert(str(folder), **options)["tables"]
    else:
        status, answer = server.request("POST", "/api/convert", {"path": folder.name, "confirm_delete": True, **options})
        assert status == 202, answer
        server.events("/api/convert/events", {"job": answer["job"]}, until="end")
        return None
    return {os.path.relpath(t["source"], folder): t["outcome"] for t in tables}


def files(folder):
    return sorted(os.path.relpath(os.path.join(d, n), folder) for d, _, names in os.walk(folder) for n in names)


@pytest.mark.parametrize("options,front_ends", CASES, ids=[",".join(o) or "none" for o, _ in CASES])
def test_every_front_end_converts_alike(served, options, front_ends):
    base, server = served
    results = {}
    for front_end in front_ends + ("default",):  # and vezi without the options: they change the run
        folder = base / f"{len(os.listdir(base))}-{front_end}"
        tables(folder)
        given = {} if front_end == "default" else options
        results[front_end] = (convert(front_end.replace("default", "cli"), folder, given, base, server), files(folder))
    assert results["cli"][0] == results["python"][0]
    assert len({tuple(results[fe][1]) for fe in front_ends}) == 1, results
    assert (results["cli"] != results["default"]) == bool(options)
