"""Opening a file that must be a regular one, refusing anything else at once.

A device never ends (/dev/zero), a FIFO may wait for a writer that never
comes, and a directory has no bytes: reading any of them as an index or a
records file would hang or grow without end. The file is opened without
waiting (a FIFO opened for reading would wait for its writer) and refused by
what it turns out to be, so no other file can take its place in between.
"""

from __future__ import annotations

import errno
import os
import stat
from typing import BinaryIO

# What the message calls each kind of file that is not a regular one.
_KINDS = (
    (stat.S_ISDIR, "a directory"),
    (stat.S_ISFIFO, "a FIFO"),
    (stat.S_ISCHR, "a character device"),
    (stat.S_ISBLK, "a block device"),
    (stat.S_ISSOCK, "a socket"),
)


class NotRegularFileError(ValueError):
    """A path that names a directory, a FIFO, a device or a socket; the message names it."""


def _kind_of(mode: int) -> str:
    return next((kind for is_kind, kind in _KINDS if is_kind(mode)), "a special file")


def open_regular(name: str) -> BinaryIO:
    """The regular file at `name` (through links), open for reading, unbuffered (so
    that a reader of its whole content gets it as one object, not a copy).
    Raises NotRegularFileError for any other kind of file, OSError when it
    cannot be opened."""
    try:
        descriptor = os.open(name, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        # A socket cannot be opened at all (ENXIO, "No such device or
        # address"): say what the path names instead.
        if error.errno != errno.ENXIO:
            raise
        try:
            mode = os.stat(name).st_mode
        except OSError:
            raise error from None
        if stat.S_ISREG(mode):
            raise
        raise NotRegularFileError(f"{name} is {_kind_of(mode)}, not a regular file") from None
    try:
        mode = os.fstat(descriptor).st_mode
        if not stat.S_ISREG(mode):
            raise NotRegularFileError(f"{name} is {_kind_of(mode)}, not a regular file")
        os.set_blocking(descriptor, True)
        return open(descriptor, "rb", buffering=0)
    except BaseException:
        os.close(descriptor)
        raise
