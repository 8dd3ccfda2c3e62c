"""What a user typed, read or refused: whole numbers within bounds, the
error that tells the user in one line why a command failed, and paths as an
output can show them."""

from __future__ import annotations

import os


def whole_number_in(text: str, low: int, high: int) -> int | None:
    """The number that `text` spells in ASCII digits if it lies from `low` to
    `high`, else None.

    Digits past the bound's own are out of range whatever they say, and are
    not converted: a long enough string of them is costly to convert (and
    past a few thousand, refused by `int`). Leading zeros say nothing and are
    dropped first, however many there are."""
    significant = text.lstrip("0")
    if not (text.isascii() and text.isdigit()) or len(significant) > len(str(high)):
        return None
    number = int(significant or "0")
    return number if low <= number <= high else None


class CommandError(Exception):
    """The failure of a command-line command, shown as "kelnor: {message}";
    the command exits with status 1."""


def shown_path(path: str) -> str:
    """`path` as any output can show it: the bytes of a name that are not
    UTF-8 (which Python keeps as lone surrogates, and no strict encoder
    takes) as \\xNN escapes."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")
