"""Writing a file so that a reader finds either the old content or the whole new one.

The bytes go to a temporary file in the same directory, reach the disk, and
the temporary file is then renamed over the target, which on one file system
is atomic: a failed write (a full disk, a file size limit) or an interrupt
leaves the old file as it was and no temporary file behind. A process killed
outright (SIGKILL) leaves the old file or the new one whole, and may leave
its temporary file, which nothing removes (docs/files.md).
"""

from __future__ import annotations

import contextlib
import os
import secrets
import stat

# What a new file gets before the umask takes its bits away, as open() gives it.
_NEW_FILE_MODE = 0o666
# The permissions of a temporary file that takes an old file's: the owner's
# only, until it has them.
_PRIVATE_MODE = 0o600

def _status_of(path: str) -> os.stat_result | None:
    """The status of the file at `path` (through links), None if there is none."""
    try:
        return os.stat(path)
    except FileNotFoundError:
        return None


def _create_temporary(directory: str, name: str, mode: int) -> tuple[int, str]:
    """A new file beside `name` in `directory`, opened for writing, created with
    `mode` (less the umask, which is never read: changing it, even for a
    moment, would change it for every thread), and its path."""
    while True:
        temporary = os.path.join(directory, f".{name}.{secrets.token_hex(6)}.tmp")
        try:
            flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
            return os.open(temporary, flags, mode), temporary
        except FileExistsError:
            continue


def write_atomically(path: str, *parts: bytes) -> None:
    """Replaces the file at `path` (through a symbolic link) by one holding `parts`,
    one after the other (so that a large part is not copied to join them).

    The new file keeps the old one's permissions and, where this process may
    give them (as root, or its own owner and a group it is in), its owner
    and group, so that those who could read it still can; a file that is new gets
    those that the umask leaves of 0o666, as `open` gives them. A device or pipe cannot be replaced, and renaming over one
    (/dev/null, as root) would put a regular file in its place, so those are
    written to as they are. Raises OSError when the write fails.
    """
    old = _status_of(path)
    if old is not None and not stat.S_ISREG(old.st_mode):
        with open(path, "wb") as special:
            special.writelines(parts)
        return
    target = os.path.realpath(path)
    directory, name = os.path.split(target)
    try:
        descriptor, temporary = _create_temporary(
            directory, name, _NEW_FILE_MODE if old is None else _PRIVATE_MODE
        )
    except OSError as error:
        # The temporary file's name is ours, not the caller's: name the file
        # that could not be written (a missing folder, one not writable).
        raise type(error)(error.errno, error.strerror, path) from None
    try:
        with open(descriptor, "wb") as file:
            if old is not None:
                # Before the mode: a change of owner clears the set-id bits.
                with contextlib.suppress(PermissionError):
                    os.fchown(descriptor, old.st_uid, old.st_gid)
                os.fchmod(descriptor, stat.S_IMODE(old.st_mode))
            file.writelines(parts)
            file.flush()
            os.fsync(descriptor)
        try:
            os.replace(temporary, target)
        except OSError as error:
            # A file that cannot be replaced (one bind-mounted, an immutable
            # one): name it, not the temporary file, which is removed below.
            raise type(error)(error.errno, error.strerror, path) from None
    except BaseException:
        # An interrupt may land after the rename, with nothing left to remove.
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
