"""What the C allocator has handed out, for the benchmarks' memory figures."""

from __future__ import annotations

import ctypes


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
