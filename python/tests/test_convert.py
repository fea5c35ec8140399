import os
import shutil

import pytest
import veziru
from conftest import SOURCE


def test_report_and_progress(tmp_path):
    folder = tmp_path / "libs"
    shutil.copytree(os.path.join(SOURCE, "examples", "paradox-libs"), folder)
    calls = []
    report = veziru.convert(str(folder), recursive=True, progress=lambda *a: calls.append(a))
    tables = report["tables"]
    assert report["error_lines"] == 0 and report["log"] == str(folder / "Convert.log")
    assert [c[0] for c in calls[:-1]] == [t["source"] for t in tables]
    assert [c[1] for c in calls] == list(range(len(tables) + 1)) and calls[-1] == (None, len(tables), len(tables))
    emis = next(t for t in tables if t["source"].endswith("/emis.db"))
    assert emis["outcome"] == "converted" and emis["library_type_name"] == "ltEmis"
    assert emis["records_written"] == emis["records_in_header"] == len(veziru.open_library(emis["target"]))
    again = veziru.convert(str(folder), recursive=True)
    assert {t["outcome"] for t in again["tables"] if t["library_type"] >= 0} <= {"skipped because the library exists",
                                                                                  "no records"}


def test_a_raising_callback_stops_the_run_and_keeps_every_file(tmp_path):
    folder = tmp_path / "libs"
    shutil.copytree(os.path.join(SOURCE, "examples", "paradox-libs"), folder)
    before = sorted(os.listdir(folder))

    seen = []

    def stop(table, done, total):
        seen.append(table)
        if done == 2:
            raise KeyboardInterrupt("stop")

    with pytest.raises(KeyboardInterrupt):
        veziru.convert(str(folder), delete_old=True, progress=stop)
    after = sorted(os.listdir(folder))
    assert set(before) <= set(after)  # nothing deleted
    made = {os.path.splitext(n)[0] for n in set(after) - set(before) - {"Convert.log"}}
    assert made and made <= {os.path.splitext(os.path.basename(t))[0] for t in seen[:2]}
    assert "progress callback raised" in (folder / "Convert.log").read_text(errors="replace")


def test_missing_folder(tmp_path):
    with pytest.raises(FileNotFoundError):
        veziru.convert(tmp_path / "none")
    with pytest.raises(TypeError):
        veziru.convert(str(tmp_path), progress=3)


def test_example_script(tmp_path):
    import subprocess
    import sys
    script = os.path.join(SOURCE, "examples", "python", "spectrum_plot.py")
    run = subprocess.run([sys.executable, script, str(tmp_path)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "Straßenverkehr Hauptstraße: 92.3 dB, 91.5 dB(A) in 21 third-octave bands" in run.stdout
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return
    assert (tmp_path / "spectrum.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_other_threads_run_during_the_conversion(tmp_path):
    import sys
    import threading
    import time
    folder = tmp_path / "libs"
    shutil.copytree(os.path.join(SOURCE, "examples", "paradox-libs"), folder)
    ticks, stop = [0], threading.Event()

    def tick():
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0.001)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(30)  # no forced switch: the ticker runs only while the interpreter lock is free
    thread = threading.Thread(target=tick)
    try:
        thread.start()
        time.sleep(0.01)
        before = ticks[0]
        veziru.convert(str(folder), recursive=True)
        during = ticks[0] - before
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)
    assert during > 0
