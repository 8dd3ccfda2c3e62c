"""Telling a damaged index apart from every other failure of a query."""

from __future__ import annotations

from typing import Callable, TypeVar

T = TypeVar("T")


class DamagedIndexError(Exception):
    """A query met an index that decoded but breaks the index's invariants."""


def answer(query: Callable[[], T]) -> T:
    """The result of `query`, or a DamagedIndexError if the index turns out damaged.

    A query on such an index fails with the extension's internal failure,
    which derives from BaseException rather than Exception, so that code
    catching Exception does not take it for a bad argument.
    """
    try:
        return query()
    except (Exception, KeyboardInterrupt, SystemExit, GeneratorExit):
        raise
    except BaseException as failure:
        raise DamagedIndexError(str(failure)) from None
