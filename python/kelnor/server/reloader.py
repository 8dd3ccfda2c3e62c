"""Serving a new index written to the same path, without a restart.

Each worker process watches the files it serves (the index and the
catalogue) by their (modification time, size, inode), each taken before the
file is read: every `interval` seconds, at its start before it answers a
request (a worker started after a reload, in place of one that exited, is
forked with the first index), and at once on SIGHUP. A changed
file is loaded on a thread, checked as `kelnor.load` checks it (header,
checksum), and swapped in for the requests that start afterwards; once the
last request that began with the old index ends, its memory is given back to
the system (`freed_memory`).
A new file that cannot be loaded, whatever the failure, is refused with one
line on standard error and the old index keeps serving; it is not tried
again until it changes again. (So a worker started while the file is one it
cannot load serves the first index, as its /health tells.)
"""

from __future__ import annotations

import asyncio
import logging
import os
import signal
import sys
import threading
from collections.abc import AsyncIterator
from contextlib import asynccontextmanager
from typing import Any, Callable, NamedTuple, Optional

from kelnor.index_file import IndexFileError, load
from kelnor.server.catalogue import CatalogueError, CatalogueSource, load_catalogue
from kelnor.server.freed_memory import trim_once_freed
from kelnor.server.served_index import Served, file_index_info, served

_LOG = logging.getLogger("uvicorn.error")

# A file's (st_mtime_ns, st_size, st_ino), or None where it cannot be seen.
Signature = Optional[tuple[int, int, int]]
# The index file's signature and the catalogue's (None without a catalogue).
Signatures = tuple[Signature, Signature]


class ReloadPlan(NamedTuple):
    """What a server reloads: the index file at `path` and the catalogue of
    `catalogue` (if any), looked at every `interval` seconds (0: only on
    SIGHUP). `seen` is what `signatures()` said before the first index and
    catalogue were read, so that a file replaced while they loaded is
    reloaded at the first look; None takes them when the application is made."""

    path: str
    catalogue: CatalogueSource | None
    interval: float
    seen: Signatures | None = None

    def signatures(self) -> Signatures:
        """The files' signatures now."""
        catalogue = self.catalogue
        return _signature(self.path), None if catalogue is None else _signature(catalogue.path)


def _signature(path: str) -> Signature:
    try:
        status = os.stat(path)
    except OSError:
        return None
    return status.st_mtime_ns, status.st_size, status.st_ino


def _unobserved(_: Optional[Served]) -> None:
    pass


class Reloader:
    """The Served that requests read (`current`), replaced when its files change."""

    def __init__(self, current: Served, plan: ReloadPlan) -> None:
        self.current = current
        self.plan = plan
        self._seen = plan.signatures() if plan.seen is None else plan.seen
        # Told of each reload: what it serves, or None for a file refused (`metrics`).
        self.on_reload: Callable[[Optional[Served]], None] = _unobserved

    def served_now(self) -> Served:
        return self.current

    def changed(self) -> bool:
        """Whether a file has changed since it was last loaded or refused."""
        return self.plan.signatures() != self._seen

    def reload(self) -> None:
        """Loads the files anew and serves them, or says why not and keeps
        serving the old ones. Blocks: runs on a thread."""
        before = self.plan.signatures()
        try:
            fresh = self._load()
        except OSError as error:
            self._refuse(before, str(error.strerror))
            return
        except (IndexFileError, CatalogueError) as error:
            self._refuse(before, str(error))
            return
        except Exception as error:  # a fault of ours: the watcher and the old files go on
            self._refuse(before, f"{type(error).__name__}: {error}")
            return
        if self.plan.signatures() != before:
            return  # replaced while it was read: the next look reads it again
        replaced, self.current = self.current, fresh
        trim_once_freed(replaced)
        self._seen = before
        self.on_reload(fresh)
        _LOG.info("reloaded %s (checksum %s)", self.plan.path, fresh.health["checksum"])

    def _load(self) -> Served:
        index = load(self.plan.path)
        info = file_index_info(self.plan.path, index)
        source = self.plan.catalogue
        return served(index, info, None if source is None else load_catalogue(source))

    def _refuse(self, seen: Signatures, reason: str) -> None:
        self._seen = seen
        self.on_reload(None)
        print(f"kelnor: cannot reload {self.plan.path}: {reason}", file=sys.stderr, flush=True)

    async def watch(self, asked: asyncio.Event) -> None:
        """Reloads whenever a file has changed or `asked` is set, until cancelled."""
        interval = self.plan.interval or None
        while True:
            if asked.is_set() or self.changed():
                asked.clear()
                await asyncio.to_thread(self.reload)
            try:
                await asyncio.wait_for(asked.wait(), interval)
            except asyncio.TimeoutError:  # TimeoutError itself from Python 3.11
                pass


@asynccontextmanager
async def reloading(reloader: Reloader) -> AsyncIterator[None]:
    """Runs `reloader` for the life of the application, from a first look
    that ends before the application answers. SIGHUP asks for a
    reload where the application runs on the process's main thread (as under
    uvicorn; a test client runs it on another)."""
    asked = asyncio.Event()
    loop = asyncio.get_running_loop()
    on_main_thread = threading.current_thread() is threading.main_thread()
    previous: Any = None
    if on_main_thread:
        previous = signal.signal(signal.SIGHUP, lambda *_: loop.call_soon_threadsafe(asked.set))
    if reloader.changed():
        await asyncio.to_thread(reloader.reload)
    task = asyncio.create_task(reloader.watch(asked))
    try:
        yield
    finally:
        task.cancel()
        if on_main_thread:
            signal.signal(signal.SIGHUP, previous)
