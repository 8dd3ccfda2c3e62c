"""What the C allocator has handed out, for the benchmarks' memory figures."""

from __future__ import annotations

import ctypes
import gc
from typing import Callable


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()
    ]


def allocated_bytes() -> int | None:
    """Bytes that the C allocator has handed out and not taken back (glibc only).

    Unlike the resident size, this does not count memory that was freed but
    that the allocator kept."""
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:
        return None
    mallinfo2.restype = _MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


def bytes_allocated_by(make: Callable[[], object]) -> int:
    """What the object that `make` returns holds in the C allocator (glibc)."""
    gc.collect()
    before = allocated_bytes()
    made = make()
    gc.collect()
    after = allocated_bytes()
    del made
    assert before is not None and after is not None, "needs glibc's mallinfo2"
    return after - before
