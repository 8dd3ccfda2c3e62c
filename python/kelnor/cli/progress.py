"""A one-line progress bar for long reads, drawn on a terminal."""

from __future__ import annotations

from types import TracebackType
from typing import TextIO


class Progress:
    """Shows how much of `total` units is done; redrawn only when the percentage
    changes, so a read of millions of lines draws it at most 101 times."""

    def __init__(self, label: str, total: int, stream: TextIO, width: int = 30) -> None:
        self._label = label
        self._total = max(total, 1)
        self._stream = stream
        self._width = width
        self._done = 0
        self._shown = -1

    def advance(self, amount: int) -> None:
        self._done = min(self._done + amount, self._total)
        percent = self._done * 100 // self._total
        if percent != self._shown:
            self._shown = percent
            filled = self._done * self._width // self._total
            bar = "#" * filled + "." * (self._width - filled)
            self._stream.write(f"\r{self._label} [{bar}] {percent:3d}%")
            self._stream.flush()

    def finish(self) -> None:
        self.advance(self._total)
        self._end_line()

    def __enter__(self) -> Progress:
        return self

    def __exit__(
        self,
        kind: type[BaseException] | None,
        error: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        # A read that fails midway leaves the bar where it stopped, on a line
        # of its own, so that the error shows on the next one.
        if kind is None:
            self.finish()
        elif self._shown >= 0:
            self._end_line()

    def _end_line(self) -> None:
        self._stream.write("\n")
        self._stream.flush()
