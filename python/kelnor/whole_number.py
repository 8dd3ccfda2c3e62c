"""Reading a whole number from text given by a user, within bounds."""

from __future__ import annotations


def whole_number_in(text: str, low: int, high: int) -> int | None:
    """The number that `text` spells in ASCII digits if it lies from `low` to
    `high`, else None.

    Digits past the bound's own are out of range whatever they say, and are
    not converted: a long enough string of them is costly to convert."""
    if not (text.isascii() and text.isdigit()) or len(text.lstrip("0")) > len(str(high)):
        return None
    number = int(text)
    return number if low <= number <= high else None
