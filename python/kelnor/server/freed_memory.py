"""Giving the memory of a replaced index back to the system.

glibc's malloc keeps the pages of freed blocks for reuse, so a worker that
reloaded an index would stay as large as its largest moment (two indexes at
once) for good. Where the C library is glibc, `malloc_trim(0)` returns them;
elsewhere nothing is done.
"""

from __future__ import annotations

import ctypes
import threading
import weakref
from typing import Callable, Optional

from kelnor.server.served_index import Served


def _malloc_trim() -> Optional[Callable[[int], int]]:
    try:
        trim = ctypes.CDLL(None).malloc_trim  # the process's own C library
    except (OSError, AttributeError, TypeError):  # not glibc, or no way to look
        return None
    trim.argtypes = [ctypes.c_size_t]
    trim.restype = ctypes.c_int
    return trim


_MALLOC_TRIM = _malloc_trim()


def give_back_freed_memory() -> None:
    """Returns the C library's free pages to the system, where it can."""
    if _MALLOC_TRIM is not None:
        _MALLOC_TRIM(0)


def _trim_on_a_thread() -> None:
    # Whoever let go of the index last (a request, on the event loop's
    # thread) does not wait while the heap is walked.
    threading.Thread(target=give_back_freed_memory, daemon=True).start()


def trim_once_freed(replaced: Served) -> None:
    """Gives the memory of `replaced` back once it is freed, that is once the
    last request that began with it has ended."""
    once_freed = weakref.finalize(replaced.lifetime, _trim_on_a_thread)
    # A process that exits gives all its memory back. (The stubs of the last
    # mypy for Python 3.9 leave the attribute out of the class's slots.)
    once_freed.atexit = False  # type: ignore[misc,unused-ignore]
