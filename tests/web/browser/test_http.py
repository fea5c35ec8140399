"""vezi serve's answers without the browser: a folder given in any form serves its files, and the folder's name
reaches the page escaped."""
import json
import os
import shutil
import signal
import socket
import subprocess
import urllib.error
import urllib.parse
import urllib.request

from conftest import EXAMPLES, VEZI


def serving(args, cwd):
    """Starts vezi serve with `args` in `cwd`; answers the process and a function getting a path's (status, body)."""
    port = [] if "--port" in args else ["--port", "0"]
    process = subprocess.Popen([VEZI, "serve", *args, *port], cwd=cwd, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    address = process.stdout.readline().split(" at ", 1)[1].strip()
    base, query = address.split("/?")
    token = urllib.parse.parse_qs(query)["token"][0]

    def get(path, data=None):
        request = urllib.request.Request(base + path, data=data,
                                         headers={"X-Vezi-Token": token, "Content-Type": "application/octet-stream"})
        try:
            with urllib.request.urlopen(request, timeout=30) as answer:
                return answer.status, answer.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()
    get.base = base
    return process, get


def stop(process):
    process.send_signal(signal.SIGINT)
    assert process.wait(timeout=30) == 0, process.stderr.read()


def test_a_folder_given_by_link_relative_path_or_default_is_served(tmp_path):
    folder = tmp_path / "project"
    shutil.copytree(os.path.join(EXAMPLES, "paradox-libs"), folder / "paradox-libs")
    (tmp_path / "link").symlink_to(folder)
    for args, cwd in (([str(tmp_path / "link")], tmp_path), (["link"], tmp_path), (["project/."], tmp_path),
                      (["project"], tmp_path), (["."], folder), ([], folder), (["../project"], folder)):
        process, get = serving(args, cwd)
        try:
            for path in ("/api/folder?path=", "/api/folder?path=paradox-libs"):
                status, body = get(path)
                assert status == 200, (args, path, body)
            assert json.loads(get("/api/folder?path=")[1])["folders"] == ["paradox-libs"], args
            assert get("/api/folder?path=..")[0] == 403, args
        finally:
            stop(process)


def test_the_address_and_port_given_are_served(tmp_path):
    with socket.socket() as probe:  # a port that was free a moment ago
        probe.bind(("127.0.0.2", 0))
        port = probe.getsockname()[1]
    process, get = serving([str(tmp_path), "--bind", "127.0.0.2", "--port", str(port)], tmp_path)
    try:
        assert get.base == f"http://127.0.0.2:{port}" and get("/api/folder?path=")[0] == 200
    finally:
        stop(process)


def test_the_upload_limit_is_given_in_mb(tmp_path):
    process, get = serving([str(tmp_path), "--upload-limit", "1"], tmp_path)
    try:
        frame = 64 << 10  # the room of a multipart request around its file
        assert get("/api/upload?folder=.", b"x" * ((1 << 20) + frame + 1)) == (
            413, '{"error":"The file is larger than the upload limit of 1 MB"}')
        assert get("/api/upload?folder=.", b"x" * ((1 << 20) + frame)) == (400, '{"error":"The request holds no file"}')
    finally:
        stop(process)


def test_the_folder_name_reaches_the_page_escaped(tmp_path):
    for name, shown in (("x&lt;y", "x&amp;lt;y"), ('a<b>"c"', "a&lt;b&gt;&quot;c&quot;"), ("K&R", "K&amp;R")):
        (tmp_path / name).mkdir()
        process, get = serving([name], tmp_path)
        try:
            status, page = get("/")
            assert status == 200 and shown in page, (name, page)
        finally:
            stop(process)
