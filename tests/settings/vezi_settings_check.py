#!/usr/bin/env python3
"""Runs `vezi settings` on a temporary per-user store and the hand-made project file and checks what it prints."""
import json
import os
import subprocess
import sys
import tempfile


def expect(actual, expected, what):
    if actual != expected:
        raise AssertionError(f"{what}: expected {expected!r}, got {actual!r}")


def main():
    vezi, data = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, VEZ_SETTINGS_HOME=home)
        env.pop("http_proxy", None)
        env.pop("HTTP_PROXY", None)
        os.makedirs(os.path.join(home, "Orvelle"))
        with open(os.path.join(home, "Orvelle", "TPLServer 1.0.ini"), "w") as f:
            f.write("[program]\nGlobdataPath=/srv/tp/globdata/\nHistEntries=8\n[system]\nClipPlane3D=0.5\n")

        def run(*args):
            return subprocess.run([vezi, "settings", *args], env=env, capture_output=True, text=True)

        result = run("--program", "/srv/TPLServer.exe", "--project", os.path.join(data, "settings"),
                     "--format", "json")
        expect(result.returncode, 0, "exit code: " + result.stderr)
        doc = json.loads(result.stdout)
        expect(doc["identity"]["ProductName"], "TPLServer", "product name")
        expect(doc["identity"]["IniFilePath"], "Software\\Orvelle\\TPLServer 1.0\\", "settings path")
        program = doc["program"]
        expect(program["GlobLibPath"], "/srv/tp/globdata/libs/", "GlobLibPath")
        expect(program["DC"]["DistribPath"], "/srv/tp/distrib/", "DistribPath")
        expect(program["HistEntries"], 8, "HistEntries")
        expect(program["System"]["ClipPlane3D"], 0.5, "ClipPlane3D")
        expect(program["ProxySettings"], "0;;;;", "ProxySettings")
        project = doc["project"]
        expect(project["graphics"], {"UnitLengthScale": 1, "GridSeed": 1}, "graphics")
        expect(project["GeoDB"]["RelHeightEFH"], 6, "RelHeightEFH")
        expect(project["usages"][0], {"Id": "GI", "Short": "GIn", "Descr": "Industriegebiet"}, "first usage")
        expect([s["HourCount"] for s in project["time slices DEN"]], [16, 0, 8], "hour counts")
        expect(project["EnabledStandards"][1], {"StandardId": 7, "Enabled": False}, "second standard")

        text = run("--program", "/srv/TPLServer.exe")
        expect(text.returncode, 0, "text exit code")
        if "  GlobLibPath: /srv/tp/globdata/libs/\n" not in text.stdout:
            raise AssertionError("text output lacks GlobLibPath: " + text.stdout)

        # A project file in code page 1252, as the suite's Windows installations write it.
        project_dir = os.path.join(home, "cp1252")
        os.makedirs(project_dir)
        with open(os.path.join(project_dir, "Project.tp"), "wb") as f:
            f.write(b"[usages]\r\nGE.Descr=B\xfcro und Gewerbe\r\n")
        result = run("--project", project_dir, "--format", "json")
        expect(result.returncode, 0, "cp1252 project")
        expect(json.loads(result.stdout)["project"]["usages"][1]["Descr"], "B\u00fcro und Gewerbe", "cp1252 text")

        expect(run("--project", os.path.join(home, "missing")).returncode, 1, "missing project folder")
        expect(run("--format", "xml").returncode, 2, "unknown format")
    print("vezi settings output checked: 1 passed, 0 failed")


if __name__ == "__main__":
    main()
