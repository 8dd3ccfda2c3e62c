"""A query to the index, timed for its answer's `took_ms` and for /metrics."""

from __future__ import annotations

import time
from typing import Callable, Optional, TypeVar

from kelnor.index_failure import answer
from kelnor.server.metrics import Observer

T = TypeVar("T")


def timed(query: Callable[[], T], observe: Optional[Observer]) -> Callable[[], tuple[T, float]]:
    """`query` as a call that also gives the milliseconds it took, and tells
    `observe` (if any) the seconds it took."""

    def run() -> tuple[T, float]:
        start = time.perf_counter()
        result = answer(query)
        seconds = time.perf_counter() - start
        if observe is not None:
            observe(seconds)
        return result, round(seconds * 1000, 3)

    return run
