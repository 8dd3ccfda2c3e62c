"""Writing a file so that a reader finds either the old content or the whole new one.

The bytes go to a temporary file in the same directory, reach the disk, and
the temporary file is then renamed over the target, which on one file system
is atomic: a failed write (a full disk, a file size limit) or an interrupt
leaves the old file as it was and no temporary file behind.
"""

from __future__ import annotations

import contextlib
import os
import stat
import tempfile


def _mode_of(path: str) -> int | None:
    """The st_mode of the file at `path` (through links), None if there is none."""
    try:
        return os.stat(path).st_mode
    except FileNotFoundError:
        return None


def _default_mode() -> int:
    """The permissions `open` gives a new file."""
    umask = os.umask(0)
    os.umask(umask)
    return 0o666 & ~umask


def write_atomically(path: str, *parts: bytes) -> None:
    """Replaces the file at `path` (through a symbolic link) by one holding `parts`,
    one after the other (so that a large part is not copied to join them).

    The new file keeps the old one's permissions (mkstemp's own are the
    owner's only). A device or pipe cannot be replaced, and renaming over one
    (/dev/null, as root) would put a regular file in its place, so those are
    written to as they are. Raises OSError when the write fails.
    """
    mode = _mode_of(path)
    if mode is not None and not stat.S_ISREG(mode):
        with open(path, "wb") as special:
            special.writelines(parts)
        return
    target = os.path.realpath(path)
    directory, name = os.path.split(target)
    descriptor, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp", dir=directory)
    try:
        with open(descriptor, "wb") as file:
            os.fchmod(descriptor, _default_mode() if mode is None else stat.S_IMODE(mode))
            file.writelines(parts)
            file.flush()
            os.fsync(descriptor)
        os.replace(temporary, target)
    except BaseException:
        # An interrupt may land after the rename, with nothing left to remove.
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
