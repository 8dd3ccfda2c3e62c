"""Running the application under uvicorn, in one process or in several forked workers.

uvicorn's own workers are started afresh (spawned) and import the application
by name, so each would load the index again and hold a private copy. Here the
index is loaded once, the listening socket is bound once, and the workers are
forked from that process: their pages of the index stay shared, copy-on-write,
since queries only read them. The parent only watches: it replaces a worker
that dies, passes SIGHUP on to them all (each reloads its index, `reloader`)
and, on SIGINT or SIGTERM, stops them all. A worker whose supervisor is gone
(killed, say, with SIGKILL) stops as on SIGTERM.

Every server process stops within its `Deadlines.exit_seconds` of being told
to, whatever its requests do, and bounds its connections and their requests' heads (`limits`,
`request_head_limits`).
"""

from __future__ import annotations

import contextlib
import gc
import logging
import multiprocessing
import os
import signal
import socket
import sys
import threading
import time
from multiprocessing.process import BaseProcess
from types import FrameType
from typing import Callable, Optional

import uvicorn
from starlette.applications import Starlette

from kelnor.cli.user_input import CommandError
from kelnor.server.limits import KEEP_ALIVE_SECONDS, Deadlines, connection_limit
from kelnor.server.request_head_limits import MAX_HEAD_BYTES, guarded_protocol

# How often the parent looks for workers that died, and a worker for its parent.
_WATCH_SECONDS = 0.5
_LOG = logging.getLogger("uvicorn.error")


def _config(app: Starlette, host: str, port: int, deadlines: Deadlines) -> uvicorn.Config:
    # What the server refuses below the application is counted with its figures.
    metrics = getattr(app.state, "metrics", None)
    protocol = guarded_protocol(
        deadlines.head_seconds, on_refusal=None if metrics is None else metrics.refused
    )
    # No access log: one line per keystroke of every visitor is noise, and a
    # cost on every request.
    return uvicorn.Config(
        app,
        host=host,
        port=port,
        access_log=False,
        lifespan="on",
        http=protocol,
        ws="none",
        # Where uvicorn parses with h11, h11's own bound lets ours speak first.
        h11_max_incomplete_event_size=MAX_HEAD_BYTES,
        timeout_keep_alive=KEEP_ALIVE_SECONDS,
        limit_concurrency=connection_limit(),
        timeout_graceful_shutdown=deadlines.shutdown_grace_seconds,
    )


def _exit_now(exit_seconds: int) -> None:
    _LOG.error("still running %s s after the signal to stop; exiting", exit_seconds)
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(0)


class _BoundedServer(uvicorn.Server):
    """uvicorn's server, gone within `exit_seconds` of the first signal to
    stop: past its grace, uvicorn cancels the requests under way, but a query
    running on a thread cannot be cancelled and the process would wait for it."""

    def __init__(self, config: uvicorn.Config, exit_seconds: int) -> None:
        super().__init__(config)
        self.exit_seconds = exit_seconds

    def handle_exit(self, sig: int, frame: Optional[FrameType]) -> None:
        if not self.should_exit:
            deadline = threading.Timer(self.exit_seconds, _exit_now, (self.exit_seconds,))
            deadline.daemon = True
            deadline.start()
        super().handle_exit(sig, frame)


def _stop_when_orphaned(supervisor: int) -> None:
    while os.getppid() == supervisor:
        time.sleep(_WATCH_SECONDS)
    _LOG.warning("the supervisor %s is gone; stopping", supervisor)
    os.kill(os.getpid(), signal.SIGTERM)


def _exit_quietly(number: int, frame: Optional[FrameType]) -> None:
    raise SystemExit(0)


def _run_worker(
    config: uvicorn.Config, exit_seconds: int, listener: socket.socket, supervisor: int
) -> None:
    # Until its application says what SIGHUP does (reloads), a worker ignores
    # it rather than run the supervisor's handler or die.
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    # The supervisor's handlers of a stop only tell the supervisor: until
    # uvicorn sets its own, a stop ends the worker (it has no request yet)
    # rather than leave it to be killed later. uvicorn sends the stop again to
    # this handler once it has stopped, which then ends the worker as usual.
    signal.signal(signal.SIGTERM, _exit_quietly)
    signal.signal(signal.SIGINT, _exit_quietly)
    threading.Thread(target=_stop_when_orphaned, args=(supervisor,), daemon=True).start()
    try:
        _BoundedServer(config, exit_seconds).run(sockets=[listener])
    except KeyboardInterrupt:
        pass  # Ctrl-C reaches the whole process group; the parent reports the stop.


def _nothing(_: int) -> None:
    pass


def serve(
    app: Starlette,
    host: str,
    port: int,
    workers: int,
    deadlines: Deadlines,
    worker_exited: Callable[[int], None] = _nothing,
) -> None:
    """Serves `app` on `host`:`port` until SIGINT or SIGTERM. The supervisor of
    several `workers` tells `worker_exited` the process id of each that exits
    while it serves."""
    if workers > 1 and not hasattr(os, "fork"):
        raise CommandError("--workers above 1 needs a platform that can fork")
    config = _config(app, host, port, deadlines)
    listener = _listener(host, port)
    # SIGHUP asks for a reload (`reloader`): where the application has none to
    # do, the server ignores it rather than die.
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    if workers == 1:
        with listener:
            _BoundedServer(config, deadlines.exit_seconds).run(sockets=[listener])
    else:
        _supervise(config, deadlines.exit_seconds, listener, workers, worker_exited)


def _listener(host: str, port: int) -> socket.socket:
    """The socket every server process listens on, bound here rather than by
    uvicorn, whose refusal is several lines of its log and an exit."""
    listener = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((host, port))
    except OSError as error:  # a port in use, an address not this host's
        listener.close()
        raise CommandError(f"cannot listen on {host}:{port}: {error.strerror}") from None
    listener.set_inheritable(True)
    shown = f"[{host}]" if ":" in host else host
    _LOG.info("Uvicorn running on http://%s:%d (Press CTRL+C to quit)", shown, port)
    return listener


def _pass_on(processes: list[BaseProcess], number: int) -> None:
    """Sends signal `number` to each of `processes` still running. One that
    has exited (and was reaped, while it is replaced or at a stop) is passed
    over: its process id may be no process's, or another's."""
    for process in processes:
        if process.pid is not None and process.exitcode is None:
            with contextlib.suppress(ProcessLookupError):  # reaped as this ran
                os.kill(process.pid, number)


def _supervise(
    config: uvicorn.Config,
    exit_seconds: int,
    listener: socket.socket,
    count: int,
    worker_exited: Callable[[int], None],
) -> None:
    fork = multiprocessing.get_context("fork")
    stop = threading.Event()

    def start() -> BaseProcess:
        process = fork.Process(
            target=_run_worker, args=(config, exit_seconds, listener, os.getpid())
        )
        process.start()
        return process

    def on_signal(number: int, _: object) -> None:
        stop.set()

    def on_hangup(number: int, _: object) -> None:
        _pass_on(processes, number)

    previous = {
        number: signal.signal(number, on_signal) for number in (signal.SIGINT, signal.SIGTERM)
    }
    processes: list[BaseProcess] = []
    previous[signal.SIGHUP] = signal.signal(signal.SIGHUP, on_hangup)
    # The objects made so far stay out of the collector's passes, which would
    # otherwise write to every one of them and so copy their pages into each
    # worker. (PyPy, whose collector works otherwise, has no freeze.)
    if hasattr(gc, "freeze"):
        gc.freeze()
    processes.extend(start() for _ in range(count))
    try:
        while not stop.wait(_WATCH_SECONDS):
            for place, process in enumerate(processes):
                if not process.is_alive():
                    _LOG.warning(
                        "worker %s exited with status %s; starting another",
                        process.pid,
                        process.exitcode,
                    )
                    if process.pid is not None:
                        worker_exited(process.pid)
                    processes[place] = start()
    finally:
        for process in processes:
            process.terminate()  # SIGTERM: uvicorn finishes the requests under way
        # Each worker is gone within exit_seconds of the signal; one that is
        # not (stopped, say) is killed.
        deadline = time.monotonic() + exit_seconds + _WATCH_SECONDS
        for process in processes:
            process.join(max(0.0, deadline - time.monotonic()))
            if process.is_alive():
                process.kill()
                process.join()
        for number, handler in previous.items():
            signal.signal(number, handler)
        listener.close()
