"""`kelnor serve` in a child process on a free loopback port, for the tests that
need a real server."""

from __future__ import annotations

import contextlib
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from collections.abc import Iterator

from conftest import child_environment

START_SECONDS = 60
KELNOR_SERVE = ("-m", "kelnor", "serve")


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def get_json(url: str) -> dict:
    with urllib.request.urlopen(url, timeout=10) as response:
        return json.load(response)


def as_at_a_terminal() -> None:
    """Ctrl-C's default in a child, as at a terminal: a run started in the
    background (as CI's may be) ignores SIGINT, and so would every server it
    starts, which then neither stops on Ctrl-C as a command does nor says so."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@contextlib.contextmanager
def running_server(
    *args: str, program: tuple[str, ...] = KELNOR_SERVE
) -> Iterator[tuple[str, subprocess.Popen]]:
    """(base URL, process) of `kelnor serve args` (or of another `program` that
    takes --port) once /health answers; stopped with SIGTERM afterwards, and
    its output shown if it failed. The server makes its temporary files in a
    folder of its own, which must be empty once it has stopped cleanly and is
    removed afterwards in any case (a server that a test kills cannot)."""
    with tempfile.TemporaryDirectory(prefix="kelnor-test-server-") as temporary:
        with _running_server(args, program, temporary) as (base, process):
            yield base, process
        left = os.listdir(temporary)
        assert process.returncode != 0 or not left, f"a server stopped cleanly and left {left}"


@contextlib.contextmanager
def _running_server(
    args: tuple[str, ...], program: tuple[str, ...], temporary: str
) -> Iterator[tuple[str, subprocess.Popen]]:
    port = free_port()
    process = subprocess.Popen(
        [sys.executable, *program, *args, "--port", str(port)],
        env={**child_environment(), "TMPDIR": temporary},
        preexec_fn=as_at_a_terminal,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
    )
    base = f"http://127.0.0.1:{port}"
    try:
        deadline = time.monotonic() + START_SECONDS
        while True:
            try:
                get_json(base + "/health")
                break
            except OSError:
                if process.poll() is not None or time.monotonic() > deadline:
                    raise AssertionError(f"the server did not start:\n{process.communicate()[0]}")
                time.sleep(0.1)
        yield base, process
    finally:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        try:
            process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
