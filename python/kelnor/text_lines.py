"""Numbered lines of a UTF-8 text file, with failures worded for the user."""

from __future__ import annotations

from collections.abc import Iterator

from kelnor.command_error import CommandError
from kelnor.progress import Progress


def numbered_lines(path: str, progress: Progress | None = None) -> Iterator[tuple[int, str]]:
    """(line number from 1, text without its line break) for each line of `path`.

    Lines are decoded one at a time so that bad bytes are reported with the
    number of their line; `progress` advances by the bytes read.
    """
    try:
        with open(path, "rb") as file:
            for number, raw in enumerate(file, 1):
                try:
                    text = raw.decode("utf-8")
                except UnicodeDecodeError as error:
                    raise CommandError(
                        f"{path}:{number}: not UTF-8 text ({error.reason})"
                    ) from None
                yield number, text.rstrip("\r\n")
                if progress:
                    progress.advance(len(raw))
    except OSError as error:
        raise CommandError(f"cannot read {path}: {error.strerror}") from None
