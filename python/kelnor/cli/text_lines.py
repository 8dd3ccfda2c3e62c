"""Numbered lines of a UTF-8 text file or of standard input, with failures worded for the user."""

from __future__ import annotations

import codecs
import sys
from collections.abc import Iterator
from typing import BinaryIO

from kelnor.cli.user_input import CommandError

STDIN = "-"


def shown_name(path: str) -> str:
    """How messages name `path`: standard input has no name of its own."""
    return "<stdin>" if path == STDIN else path


def _lines(file: BinaryIO, name: str) -> Iterator[tuple[int, str]]:
    for number, raw in enumerate(file, 1):
        # Editors on some systems start UTF-8 files with a byte-order mark,
        # which is no part of the first line's text.
        start = len(codecs.BOM_UTF8) if number == 1 and raw.startswith(codecs.BOM_UTF8) else 0
        try:
            text = raw[start:].decode("utf-8")
        except UnicodeDecodeError as error:
            raise CommandError(f"{name}:{number}: not UTF-8 text ({error.reason})") from None
        yield number, text.rstrip("\r\n")


def numbered_lines(path: str) -> Iterator[tuple[int, str]]:
    """(line number from 1, text without its line break) for each line of `path`,
    or of standard input when `path` is "-".

    Lines are decoded one at a time so that bad bytes are reported with the
    number of their line.
    """
    name = shown_name(path)
    try:
        if path == STDIN:
            if sys.stdin is None:
                raise CommandError("cannot read standard input: it is closed")
            yield from _lines(sys.stdin.buffer, name)
        else:
            with open(path, "rb") as file:
                yield from _lines(file, name)
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror}") from None
