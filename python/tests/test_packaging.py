"""`pip install .` of the source tree: the build backend packs the module of this build into a wheel, offline."""
import os
import subprocess
import sys

import pytest
from conftest import SOURCE


def test_pip_installs_the_module(tmp_path):
    build = os.environ.get("VEZ_BINARY_DIR")
    if not build:
        pytest.skip("needs the build folder (VEZ_BINARY_DIR)")
    pytest.importorskip("pip")
    site = tmp_path / "site"
    run = subprocess.run([sys.executable, "-m", "pip", "install", "--no-index", "--no-deps", "--quiet", "--target",
                          str(site), SOURCE], env=dict(os.environ, VEZ_BUILD_DIR=build), capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    names = os.listdir(site)
    assert "veziru.pyi" in names and any(n.startswith("veziru.cpython-") for n in names), names
    check = subprocess.run([sys.executable, "-c", "import veziru; print(veziru.__file__); print(veziru.__version__)"],
                           env=dict(os.environ, PYTHONPATH=str(site)), capture_output=True, text=True)
    assert check.returncode == 0, check.stderr
    assert check.stdout.startswith(str(site)) and check.stdout.split()[1] == "0.1.0"
