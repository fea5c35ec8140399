"""One set of record rules under every front end: the cases of tests/data/conformance/cases.json run through
`vezi`, the Python module and the HTTP API of `vezi serve`, each on a library of its own. Every case must give
the same message in the three, or the same record; at the end the three libraries must be equal cell for cell
(apart from the times of change). A rule changed in one front end alone fails here."""
import datetime
import json
import shutil
import math
import os
import signal
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request

import pytest
import veziru

VEZI = os.environ["VEZI"]
DATA = os.path.join(os.environ["VEZ_TEST_DATA_DIR"], "conformance")
CASES = json.load(open(os.path.join(DATA, "cases.json"), encoding="utf-8"))
FRONT_ENDS = ("cli", "python", "http")


def spelled(value, front_end):
    """The value as the front end writes it."""
    if isinstance(value, dict) and set(value) <= set(FRONT_ENDS):
        value = value[front_end]
        if isinstance(value, dict) and "float" in value:
            return float(value["float"])
        return value
    if front_end != "cli":
        return value
    if value is None:
        return ""
    if isinstance(value, bool):
        return "True" if value else "False"
    return value if isinstance(value, str) else json.dumps(value)


def values_for(case, front_end):
    return {name: spelled(value, front_end) for name, value in case.get("values", {}).items()}


class Server:
    """vezi serve on a free port over the folder, with its token."""

    def __init__(self, folder):
        self.process = subprocess.Popen([VEZI, "serve", str(folder), "--port", "0"], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        address = self.process.stdout.readline().split(" at ", 1)[1].strip()
        self.base, query = address.split("/?")
        self.token = urllib.parse.parse_qs(query)["token"][0]

    def request(self, method, path, body=None, params=None):
        """(status, JSON answer)."""
        url = self.base + path + ("?" + urllib.parse.urlencode(params) if params else "")
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(url, data=data, method=method,
                                     headers={"X-Vezi-Token": self.token, "Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as answer:
                return answer.status, json.loads(answer.read())
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read())

    def events(self, path, params, until):
        """The events of a stream up to the one named `until`: {name: data}."""
        url = self.base + path + "?" + urllib.parse.urlencode(params)
        req = urllib.request.Request(url, headers={"X-Vezi-Token": self.token})
        seen, name = {}, None
        with urllib.request.urlopen(req, timeout=60) as stream:
            for raw in stream:
                line = raw.decode().rstrip("\n")
                if line.startswith("event:"):
                    name = line[6:].strip()
                elif line.startswith("data:") and name:
                    seen[name] = json.loads(line[5:])
                    if name == until:
                        return seen
        return seen

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(timeout=30)


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    base = tmp_path_factory.mktemp("conformance")
    libs = {}
    for front_end in FRONT_ENDS:
        (base / front_end).mkdir()
        run = subprocess.run([VEZI, "create", CASES["library"], str(base / front_end)], capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        libs[front_end] = run.stdout.strip()
    server = Server(base)
    yield base, libs, server
    server.stop()


def relative(base, path):
    return os.path.relpath(path, base)


def number_of(path, name):
    """The Eintrag and position of the record of a name."""
    with veziru.open_library(path, read_only=True) as lib:
        for position, record in enumerate(lib):
            if record["ElementName"] == name:
                return record["Eintrag"], position
    raise AssertionError(f"no record {name!r} in {path}")


def record_of(path, name):
    with veziru.open_library(path, read_only=True) as lib:
        return next((r for r in lib if r["ElementName"] == name), None)


# ---- the operations, per front end: each answers (error message or None, result) ----

def cli(base, *args):
    run = subprocess.run([VEZI, *args], cwd=base, capture_output=True, text=True)
    if run.returncode == 0:
        return None, run.stdout
    lines = [line for line in run.stderr.splitlines() if line.startswith("vezi: ")]
    assert run.returncode in (1, 2) and lines, run.stderr  # 2: a parameter out of its range is a usage error
    return lines[0][len("vezi: "):], run.stdout


def sheet_file(case, base, front_end):
    """The file an import case reads, in the served folder: a file of the data folder, or the case's lines."""
    if "file" in case:
        target = base / f"{front_end}-{case['file']}"
        shutil.copy(os.path.join(DATA, case["file"]), target)
        return target
    target = base / f"{front_end}-sheet.txt"
    rows = [list(row) for row in case["sheet"]]
    if "wide" in case:  # header cells of 30000 bytes, as many as make that many bytes: an import keeps its header
        # lines whole, so their text counts against the text limit
        rows[0] += ["x" * 30000] * (case["wide"] // 30000)
    target.write_text("\n".join("\t".join(row) for row in rows) + "\n", encoding="utf-8")
    return target


def import_options(case, base, front_end):
    """The case's options (a name that exists is skipped unless they say otherwise); a case's "mapping" is written
    as a file of the folder and given by its name, or to Python as a dict when the case says so."""
    options = {"on_exists": "skip", **case.get("options", {})}
    if "mapping" in case:
        target = base / f"{front_end}-mapping.json"
        target.write_text(json.dumps(case["mapping"]), encoding="utf-8")
        options["mapping"] = target.name if front_end != "python" else (
            case["mapping"] if case.get("mapping_as_dict") else str(target))
    return options


def run_cli(case, base, lib):
    op, values = case["op"], values_for(case, "cli")
    assignments = [f"{name}={value}" for name, value in values.items()]
    if op == "add":
        return cli(base, "add", relative(base, lib), *assignments)
    if op == "edit":
        nr, _ = number_of(lib, case["record"])
        return cli(base, "edit", relative(base, lib), str(nr), *assignments)
    if op == "tnm":
        error, out = cli(base, "tnm", "--vehicle", values["vehicle"], "--pavement", values["pavement"], "--speed",
                         values["speed"], "--format", "json")
        return error, json.loads(out) if error is None else None
    if op == "weighting":
        error, out = cli(base, "bands", "--weighting", values["weighting"])
        rows = [line.split() for line in out.splitlines() if line.strip()[:1].isdigit()] if error is None else []
        return error, [float(row[-1]) for row in rows]
    if op == "import":
        sheet = sheet_file(case, base, "cli")
        report = base / "cli-report.json"
        options = []
        for name, value in import_options(case, base, "cli").items():
            flag = f"--{name.replace('_', '-')}"
            if value is True:
                options.append(flag)
            else:  # map and fix: FIELD=COLUMN and FIELD=TEXT, one option each
                options += [arg for v in (value.items() if isinstance(value, dict) else [value])
                            for arg in (flag, "=".join(v) if isinstance(v, tuple) else str(v))]
        error, _ = cli(base, "import", sheet.name, "--into", relative(base, lib), "--auto-link", "--report",
                       report.name, *options)
        report = json.loads(report.read_text())
        return (report["error"].splitlines()[0], None) if report["error"] else (None, report)
    raise AssertionError(op)


def run_python(case, base, lib):
    op, values = case["op"], values_for(case, "python")
    try:
        if op in ("add", "edit"):
            with veziru.open_library(lib) as library:
                if op == "add":
                    library.append(values)
                else:
                    library.edit(number_of(lib, case["record"])[1], values)
            return None, None
        if op == "tnm":
            level, bands = veziru.tnm(values["vehicle"], values["pavement"], values["speed"])
            return None, {"sum": level, "bands": [{"hz": hz, "db": db} for hz, db in zip(veziru.TNM_BANDS, bands)]}
        if op == "weighting":
            return None, [float(v) for v in veziru.weighting(veziru.THIRD_OCTAVE_BANDS, values["weighting"])]
        if op == "import":
            sheet = sheet_file(case, base, "python")
            return None, veziru.import_file(sheet, lib, auto_link=True, **import_options(case, base, "python"))
    except (ValueError, OverflowError, veziru.Error) as e:
        return str(e).splitlines()[0], None
    raise AssertionError(op)


def run_http(case, base, lib, server):
    op, values = case["op"], values_for(case, "http")
    path = relative(base, lib)
    if op in ("add", "edit"):
        body = {"path": path, "values": values}
        if op == "edit":
            nr, position = number_of(lib, case["record"])
            status, page = server.request("GET", "/api/records", params={"path": path, "offset": position, "limit": 1})
            record = page["records"][0]
            assert record["values"]["Eintrag"] == nr
            body.update(key=record["key"], version=record["version"])
        status, answer = server.request("POST", "/api/record/save" if op == "edit" else "/api/record/add", body)
        return (None, answer) if status == 200 else (answer["error"], None)
    if op == "tnm":
        status, answer = server.request("GET", "/api/tnm", params=values)
        return (None, answer["result"]) if status == 200 else (answer["error"], None)
    if op == "weighting":
        status, answer = server.request("GET", "/api/bands", params=values)
        return (None, [b["correction"] for b in answer["bands"]]) if status == 200 else (answer["error"], None)
    if op == "import":
        sheet = sheet_file(case, base, "http")
        options = import_options(case, base, "http")
        # The dialog opens with the options of the file; lines and links are set in it as a person sets them.
        dialog_options = {name: options.pop(name) for name in ("start", "stop", "map", "fix") if name in options}
        status, dialog = server.request("POST", "/api/import/open", {"file": sheet.name, "library": path, **options})
        if status != 200:
            return dialog["error"].splitlines()[0], None
        ops = {"start": [{"op": "start_line", "value": dialog_options.get("start")}],
               "stop": [{"op": "stop_checked", "checked": True}, {"op": "stop_line", "value": dialog_options.get("stop")}]}
        for name in ("start", "stop"):
            for op in ops[name] if name in dialog_options else []:
                status, answer = server.request("POST", "/api/import/dialog", {"id": dialog["id"], **op})
                assert status == 200, answer
        links = [{"column": column, "description": field} for field, column in dialog_options.get("map", {}).items()]
        links += [{"fix": True, "fix_text": text, "description": field} for field, text in dialog_options.get("fix", {}).items()]
        offered = server.request("POST", "/api/import/link", {"id": dialog["id"], "index": -1})[1]["link"]["descriptions"]
        for link in links:  # the dialog offers a field by its description, "Values8 (125 Hz)"
            link["description"] = next(d for d in offered if d.split(" (")[0] == link["description"])
            status, answer = server.request("POST", "/api/import/link",
                                            {"id": dialog["id"], "index": -1, "button": "OK", "fix": False, **link})
            assert status == 200, answer
        server.request("POST", "/api/import/dialog", {"id": dialog["id"], "op": "auto_link"})
        status, answer = server.request("POST", "/api/import/start", {"id": dialog["id"]})
        assert status == 202, answer
        events = server.events("/api/import/events", {"id": dialog["id"]}, until="finished")
        return None, events["finished"]
    raise AssertionError(op)


def run(front_end, case, world):
    base, libs, server = world
    if front_end == "cli":
        return run_cli(case, base, libs["cli"])
    if front_end == "python":
        return run_python(case, base, libs["python"])
    return run_http(case, base, libs["http"], server)


def comparable(record):
    return {k: v for k, v in record.items() if k != "LastChangeDateTime"}


@pytest.mark.parametrize("case", CASES["cases"], ids=[c["name"] for c in CASES["cases"]])
def test_case(case, world):
    base, libs, _ = world
    skipped = case.get("skip", {})
    before = {}
    if case.get("touched"):
        for fe in FRONT_ENDS:
            before[fe] = record_of(libs[fe], case["record"])["LastChangeDateTime"]
        time.sleep(0.01)
    answers = {fe: run(fe, case, world) for fe in FRONT_ENDS if fe not in skipped}
    errors = {fe: error for fe, (error, _) in answers.items()}
    assert errors == {fe: case.get("error") for fe in answers}, answers

    results = {fe: result for fe, (_, result) in answers.items()}
    if case["op"] == "tnm" and "error" not in case:
        sums = {fe: round(r["sum"], 4) for fe, r in results.items()}
        assert len(set(sums.values())) == 1, sums
    if case["op"] == "weighting" and "error" not in case:
        assert results["cli"] == results["python"] == results["http"]
        assert len(results["cli"]) == 30
        if case.get("corrections") == "zero":
            assert set(results["cli"]) == {0.0}
    if case["op"] == "import" and "error" not in case:
        for fe, report in results.items():
            assert {k: report[k] for k in case["result"]} == case["result"], (fe, report)
            assert [{k: e[k] for k in want} for e, want in zip(report["errors"], case["errors"])] == case["errors"], (fe, report)
            assert len(report["errors"]) == len(case["errors"]), (fe, report)

    expected = case.get("expect", [])
    for expect in expected if isinstance(expected, list) else [expected]:
        for fe in FRONT_ENDS:
            record = record_of(libs[fe], expect["ElementName"])
            assert record is not None, (fe, expect["ElementName"])
            got = {k: record[k] for k in expect}
            assert got == expect, fe
            if case.get("touched"):
                assert record["LastChangeDateTime"] > before[fe], fe
    for name in case.get("absent", []):
        assert all(record_of(libs[fe], name) is None for fe in FRONT_ENDS), name


def test_the_three_libraries_are_equal(world):
    """After every case (this test runs last): cell for cell, apart from the times of change."""
    _, libs, _ = world
    contents = {}
    for fe in FRONT_ENDS:
        with veziru.open_library(libs[fe], read_only=True) as lib:
            contents[fe] = [comparable(r) for r in lib]
            stamps = [r["LastChangeDateTime"] for r in lib]
        assert all(datetime.datetime.now() - t < datetime.timedelta(hours=1) for t in stamps), fe
    assert len(contents["cli"]) >= 6
    assert contents["cli"] == contents["python"] == contents["http"]
    for record in contents["cli"]:
        for name, value in record.items():
            assert not (isinstance(value, float) and math.isnan(value)), (record["ElementName"], name)
