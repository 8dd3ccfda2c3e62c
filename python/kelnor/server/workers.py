"""Running the application under uvicorn, in one process or in several forked workers.

uvicorn's own workers are started afresh (spawned) and import the application
by name, so each would load the index again and hold a private copy. Here the
index is loaded once, the listening socket is bound once, and the workers are
forked from that process: their pages of the index stay shared, copy-on-write,
since queries only read them. The parent only watches: it replaces a worker
that dies and, on SIGINT or SIGTERM, stops them all.
"""

from __future__ import annotations

import gc
import logging
import multiprocessing
import os
import signal
import socket
import threading
from multiprocessing.process import BaseProcess

import uvicorn
from starlette.applications import Starlette

from kelnor.command_error import CommandError

# How often the parent looks for workers that died.
_WATCH_SECONDS = 0.5
_LOG = logging.getLogger("uvicorn.error")


def _config(app: Starlette, host: str, port: int) -> uvicorn.Config:
    # No access log: one line per keystroke of every visitor is noise, and a
    # cost on every request.
    return uvicorn.Config(app, host=host, port=port, access_log=False, lifespan="off")


def _run_worker(config: uvicorn.Config, listener: socket.socket) -> None:
    try:
        uvicorn.Server(config).run(sockets=[listener])
    except KeyboardInterrupt:
        pass  # Ctrl-C reaches the whole process group; the parent reports the stop.


def serve(app: Starlette, host: str, port: int, workers: int) -> None:
    """Serves `app` on `host`:`port` until SIGINT or SIGTERM."""
    if workers > 1 and not hasattr(os, "fork"):
        raise CommandError("--workers above 1 needs a platform that can fork")
    config = _config(app, host, port)
    try:
        if workers == 1:
            uvicorn.Server(config).run()
        else:
            _supervise(config, config.bind_socket(), workers)
    except SystemExit:  # uvicorn has logged why it could not listen
        raise CommandError(f"cannot listen on {host}:{port}") from None


def _supervise(config: uvicorn.Config, listener: socket.socket, count: int) -> None:
    fork = multiprocessing.get_context("fork")
    stop = threading.Event()

    def start() -> BaseProcess:
        process = fork.Process(target=_run_worker, args=(config, listener))
        process.start()
        return process

    def on_signal(number: int, _: object) -> None:
        stop.set()

    previous = {
        number: signal.signal(number, on_signal) for number in (signal.SIGINT, signal.SIGTERM)
    }
    # The objects made so far stay out of the collector's passes, which would
    # otherwise write to every one of them and so copy their pages into each
    # worker. (PyPy, whose collector works otherwise, has no freeze.)
    if hasattr(gc, "freeze"):
        gc.freeze()
    processes: list[BaseProcess] = [start() for _ in range(count)]
    try:
        while not stop.wait(_WATCH_SECONDS):
            for place, process in enumerate(processes):
                if not process.is_alive():
                    _LOG.warning(
                        "worker %s exited with status %s; starting another",
                        process.pid,
                        process.exitcode,
                    )
                    processes[place] = start()
    finally:
        for process in processes:
            process.terminate()  # SIGTERM: uvicorn finishes the requests under way
        for process in processes:
            process.join()
        for number, handler in previous.items():
            signal.signal(number, handler)
        listener.close()
