"""The build backend of `pip install .` (PEP 517): builds the module veziru with CMake and packs it as a wheel.

Only the standard library is used, so that pip needs nothing from a package index. The module is built for the
interpreter that runs the build (sys.executable) as a Release build without debug information, in
build/python-wheel of the source tree (kept, so a second install rebuilds only what changed). Settings
(`pip install . --config-settings KEY=VALUE` or the environment):

  build-dir / VEZ_BUILD_DIR   an existing CMake build folder whose veziru_python target is built and packed as it
                              is (no configuring, no stripping): for tests of the packaging
  jobs / VEZ_BUILD_JOBS       parallel compile jobs (default: the number of processors)
"""
import base64
import csv
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "veziru"


def _project():
    """Name, version, summary and Python requirement from pyproject.toml (tomllib is not in every Python)."""
    text = open(os.path.join(ROOT, "pyproject.toml"), encoding="utf-8").read()
    project = text.split("[project]", 1)[1]
    fields = dict(re.findall(r'^(\w[\w-]*) = "(.*)"$', project, re.M))
    return fields["version"], fields["description"], fields.get("requires-python", "")


def _setting(config_settings, key, env):
    value = (config_settings or {}).get(key)
    return value if value else os.environ.get(env)


def _run(command):
    print("+ " + " ".join(command), flush=True)
    subprocess.run(command, check=True)


def _build_module(config_settings):
    """Builds the module; returns the folder holding veziru*.so and veziru.pyi."""
    jobs = _setting(config_settings, "jobs", "VEZ_BUILD_JOBS") or str(os.cpu_count() or 2)
    build = _setting(config_settings, "build-dir", "VEZ_BUILD_DIR")
    if build:
        _run(["cmake", "--build", build, "--target", "veziru_python", "-j", jobs])
        return os.path.join(build, "python", "package"), False
    build = os.path.join(ROOT, "build", "python-wheel")
    _run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DVEZ_BUILD_TESTS=OFF",
          "-DVEZ_BUILD_BENCH=OFF", "-DVEZ_BUILD_APPS=OFF", "-DVEZ_BUILD_PYTHON=ON",
          "-DPython_EXECUTABLE=" + sys.executable])
    _run(["cmake", "--build", build, "--target", "veziru_python", "-j", jobs])
    return os.path.join(build, "python", "package"), True


def _tag():
    interpreter = "cp%d%d" % sys.version_info[:2]
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return interpreter, interpreter, platform


def _metadata():
    version, summary, requires = _project()
    lines = ["Metadata-Version: 2.1", "Name: " + NAME, "Version: " + version, "Summary: " + summary]
    if requires:
        lines.append("Requires-Python: " + requires)
    return "\n".join(lines) + "\n"


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return [name, "sha256=" + digest, str(len(data))]


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    version = _project()[0]
    info = os.path.join(metadata_directory, "%s-%s.dist-info" % (NAME, version))
    os.makedirs(info, exist_ok=True)
    with open(os.path.join(info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata())
    return os.path.basename(info)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    package, strip = _build_module(config_settings)
    modules = [n for n in os.listdir(package) if n.startswith(NAME + ".") and n.endswith(".so")]
    if len(modules) != 1:
        raise RuntimeError("expected one built module in %s, found %s" % (package, modules))
    version = _project()[0]
    tag = "-".join(_tag())
    info = "%s-%s.dist-info" % (NAME, version)
    files = []
    with tempfile.TemporaryDirectory() as scratch:
        module = os.path.join(scratch, modules[0])
        shutil.copyfile(os.path.join(package, modules[0]), module)
        if strip and shutil.which("strip"):
            _run(["strip", "--strip-unneeded", module])
        files.append((modules[0], open(module, "rb").read()))
    files.append((NAME + ".pyi", open(os.path.join(package, NAME + ".pyi"), "rb").read()))
    files.append((info + "/METADATA", _metadata().encode()))
    wheel = "Wheel-Version: 1.0\nGenerator: veziru wheel_backend\nRoot-Is-Purelib: false\nTag: %s\n" % tag
    files.append((info + "/WHEEL", wheel.encode()))
    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    for name, data in files:
        writer.writerow(_record_line(name, data))
    writer.writerow([info + "/RECORD", "", ""])
    files.append((info + "/RECORD", record.getvalue().encode()))

    filename = "%s-%s-%s.whl" % (NAME, version, tag)
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            entry.external_attr = (0o755 if name.endswith(".so") else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
    return filename


def build_sdist(sdist_directory, config_settings=None):
    """The source tree as git knows it (or every file outside build folders), with PKG-INFO."""
    version = _project()[0]
    base = "%s-%s" % (NAME, version)
    try:
        listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
        names = [n for n in listed.decode().split("\0") if n]
    except (OSError, subprocess.CalledProcessError):
        names = []
        for folder, dirs, files in os.walk(ROOT):
            dirs[:] = [d for d in dirs if not d.startswith(("build", ".git"))]
            names += [os.path.relpath(os.path.join(folder, f), ROOT) for f in files]
    filename = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz") as archive:
        for name in sorted(names):
            archive.add(os.path.join(ROOT, name), arcname=base + "/" + name, recursive=False)
        info = tarfile.TarInfo(base + "/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
    return filename
