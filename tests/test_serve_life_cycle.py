"""`kelnor serve` as a real process, from start to stop: each way it can fail
to start is one `kelnor:` line and status 1, and a request under way when
SIGTERM comes is answered before the server exits."""

from __future__ import annotations

import signal
import socket
import subprocess
import sys
from collections.abc import Iterator
from pathlib import Path
from typing import Callable

import pytest

pytest.importorskip("starlette", reason="the serve extra is not installed")

from serve_process import (  # noqa: E402
    KELNOR_SERVE,
    START_SECONDS,
    child_environment,
    free_port,
    running_server,
)
from stuck_server import QUERY_UNDER_WAY  # noqa: E402
from test_serve_reload import read_until  # noqa: E402

import kelnor  # noqa: E402

INDEX = kelnor.build([("harry", 7, 3), ("hare", 8, 2)])


@pytest.fixture(scope="module")
def busy_port() -> Iterator[int]:
    """A loopback port that another socket listens on."""
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        holder.listen()
        yield holder.getsockname()[1]


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> Path:
    """A directory with a sound index (words.bin) and catalogue (videos.csv)."""
    where = tmp_path_factory.mktemp("serve_files")
    kelnor.save(INDEX, where / "words.bin")
    (where / "videos.csv").write_text("id,title\n7,Harry\n", "utf-8")
    return where


def _damaged(files: Path) -> tuple[list[str], str]:
    path = files / "damaged.bin"
    image = bytearray((files / "words.bin").read_bytes())
    image[-1] ^= 0xFF  # in the last section
    path.write_bytes(bytes(image))
    with pytest.raises(kelnor.IndexFileError) as refusal:
        kelnor.load(path)
    return [str(path)], str(refusal.value)


def _catalogue(files: Path, name: str, text: str) -> list[str]:
    (files / name).write_text(text, "utf-8")
    return [str(files / "words.bin"), "--videos", str(files / name)]


# Each gives, in `files`, the arguments of a server that cannot start and what
# it says.
START_FAILURES: dict[str, Callable[[Path, int], tuple[list[str], str]]] = {
    "port in use": lambda files, busy: (
        [str(files / "words.bin"), "--port", str(busy)],
        f"cannot listen on 127.0.0.1:{busy}: Address already in use",
    ),
    "port in use, workers": lambda files, busy: (
        [str(files / "words.bin"), "--workers", "2", "--port", str(busy)],
        f"cannot listen on 127.0.0.1:{busy}: Address already in use",
    ),
    "no index file": lambda files, _: (
        [str(files / "missing.bin")],
        f"cannot read {files / 'missing.bin'}: No such file or directory",
    ),
    "a directory": lambda files, _: ([str(files)], f"{files} is a directory, not a regular file"),
    "not an index": lambda files, _: (
        [str(files / "videos.csv")],
        f"{files / 'videos.csv'} is not a kelnor index: it has no index file header and is no "
        "index image (a records file? `kelnor build` makes an index of one)",
    ),
    "damaged index": lambda files, _: _damaged(files),
    "catalogue without titles": lambda files, _: (
        _catalogue(files, "names.csv", "id,name\n7,Harry\n"),
        f"the catalogue {files / 'names.csv'} has no column 'title' (its columns: 'id', "
        "'name'); --videos-title-column names the column to use",
    ),
    "catalogue of no known format": lambda files, _: (
        _catalogue(files, "videos.txt", "id,title\n7,Harry\n"),
        f"cannot tell the format of the catalogue {files / 'videos.txt'}: name it .csv, .tsv, "
        ".jsonl, .ndjson or .parquet",
    ),
    "no catalogue file": lambda files, _: (
        [str(files / "words.bin"), "--videos", str(files / "missing.csv")],
        f"cannot read {files / 'missing.csv'}: No such file or directory",
    ),
}


@pytest.fixture(scope="module")
def failed_starts(files, busy_port) -> dict[str, tuple[int, str, str, str]]:
    """For each of START_FAILURES, side by side: (exit status, standard error,
    standard output, the reason expected)."""
    started = {}
    for failure, case in START_FAILURES.items():
        args, reason = case(files, busy_port)
        if "--port" not in args:
            args += ["--port", str(free_port())]
        started[failure] = reason, subprocess.Popen(
            [sys.executable, *KELNOR_SERVE, *args],
            env=child_environment(),
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
    stopped = {}
    for failure, (reason, process) in started.items():
        try:
            out, err = process.communicate(timeout=START_SECONDS)
        except subprocess.TimeoutExpired:  # it started after all
            process.kill()
            out, err = process.communicate()
        stopped[failure] = process.returncode, err, out, reason
    return stopped


@pytest.mark.parametrize("failure", START_FAILURES)
def test_a_server_that_cannot_start_says_why_in_one_line(failed_starts, failure):
    status, err, out, reason = failed_starts[failure]
    assert (status, err, out) == (1, f"kelnor: {reason}\n", "")


# `kelnor serve FILE`, which asks for a reload (SIGHUP) while it loads FILE,
# and then serves: a stand-in for the server that says so.
HANGUP_WHILE_LOADING = """
import os, signal, sys
import kelnor.cli.main as main
from kelnor import server

def hung_up_load(path):
    os.kill(os.getpid(), signal.SIGHUP)
    return loaded(path)

loaded, main._load = main._load, hung_up_load
server.serve = lambda *args: print("serving")
sys.exit(main.main(["serve", sys.argv[1]]))
"""


def test_a_sighup_while_the_server_loads_its_files_does_not_end_it(files):
    finished = subprocess.run(
        [sys.executable, "-c", HANGUP_WHILE_LOADING, str(files / "words.bin")],
        env=child_environment(),
        capture_output=True,
        text=True,
        timeout=START_SECONDS,
    )
    assert (finished.returncode, finished.stdout, finished.stderr) == (0, "serving\n", "")


STUCK_SERVER = (str(Path(__file__).with_name("stuck_server.py")),)


@pytest.mark.parametrize("workers", [1, 2])
def test_a_request_under_way_at_sigterm_is_answered_before_the_server_exits(tmp_path, workers):
    release = tmp_path / "release"
    options = ("--workers", str(workers), "--until", str(release))
    with running_server(*options, program=STUCK_SERVER) as (base, process):
        port = int(base.rsplit(":", 1)[1])
        with socket.create_connection(("127.0.0.1", port), timeout=START_SECONDS) as client:
            client.sendall(b"GET /videos?q=a HTTP/1.1\r\nHost: k\r\n\r\n")
            read_until(process, 1, QUERY_UNDER_WAY)
            process.send_signal(signal.SIGTERM)
            read_until(process, workers, "Shutting down")  # each worker has the signal
            release.touch()
            answer = b""
            while chunk := client.recv(65536):
                answer += chunk
        process.wait(START_SECONDS)
    assert answer.startswith(b"HTTP/1.1 200 OK\r\n")
    assert b'\r\n\r\n{"videos":[{"id":"1","score":1.0}],"took_ms":' in answer
    # The supervisor exits 0; a lone server passes SIGTERM on.
    assert process.returncode == (0 if workers > 1 else -signal.SIGTERM)


@pytest.mark.parametrize("workers, status", [(1, 130), (2, 0)])
def test_ctrl_c_stops_a_server_as_it_ends_a_command(workers, status):
    with running_server("--demo", "--workers", str(workers)) as (_, process):
        process.send_signal(signal.SIGINT)
        output = process.communicate(timeout=START_SECONDS)[0]
    assert process.returncode == status, output
    # A lone server's Ctrl-C is the command's; the supervisor's is its workers' stop.
    assert output.endswith("kelnor: interrupted\n") == (workers == 1)
