"""Reading a request's query parameters: each is checked and converted, or the
request is refused with a `BadRequest` whose reason the client sees.

A parameter given twice, or one the endpoint does not know, is refused too: a
misspelt `max_dsit` silently ignored would answer another question than the
one asked. So is a query string whose %-escapes spell no UTF-8: read with
replacement characters, it would ask for a search nobody typed.
"""

from __future__ import annotations

import math
import re
import urllib.parse
from collections.abc import Iterable

from starlette.datastructures import QueryParams

from kelnor.cli.user_input import whole_number_in

# The longest search text accepted, in code points.
MAX_QUERY_LENGTH = 256
# Wider bounds than this walk a large part of any index: a public endpoint
# offers what a search box needs.
MAX_DIST_LIMIT = 3
MAX_RESULTS = 100

# A number in ASCII digits, with maybe a sign, a point and an exponent:
# float() alone would also take spaces around it, underscores between
# digits and the digits of any script.
_NUMBER = re.compile(r"[-+]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][-+]?[0-9]+)?")

_TRUE = ("true", "1")
_FALSE = ("false", "0")


class BadRequest(Exception):
    """A request the server refuses; `str()` is the reason."""


class Parameters:
    """The query parameters of one request, its raw `query_string`, to an
    endpoint that takes `known`."""

    def __init__(self, query_string: bytes, known: Iterable[str]) -> None:
        try:
            urllib.parse.unquote_to_bytes(query_string).decode("utf-8")
        except UnicodeDecodeError:
            raise BadRequest("the query string is not UTF-8 once its %-escapes are decoded") from None
        params = QueryParams(query_string)
        known = tuple(known)
        for name in params:
            if name not in known:
                raise BadRequest(
                    f"unknown parameter {name!r}; this endpoint takes {', '.join(known)}"
                )
            if len(params.getlist(name)) > 1:
                raise BadRequest(f"parameter {name!r} is given more than once")
        self._params = params

    def text(self, name: str) -> str:
        """A required, non-empty text of at most MAX_QUERY_LENGTH code points."""
        value = self._params.get(name)
        if value is None:
            raise BadRequest(f"parameter {name!r} is missing")
        if not value:
            raise BadRequest(f"parameter {name!r} is empty")
        if len(value) > MAX_QUERY_LENGTH:
            raise BadRequest(
                f"parameter {name!r} has {len(value)} characters; "
                f"at most {MAX_QUERY_LENGTH} are accepted"
            )
        return value

    def whole_number(self, name: str, low: int, high: int) -> int | None:
        """A whole number from `low` to `high`, or None if not given."""
        value = self._params.get(name)
        if value is None:
            return None
        number = whole_number_in(value, low, high)
        if number is None:
            raise BadRequest(
                f"parameter {name!r} must be a whole number from {low} to {high}, got {value!r}"
            )
        return number

    def fraction(self, name: str) -> float | None:
        """A number from 0 to 1, or None if not given."""
        value = self._params.get(name)
        if value is None:
            return None
        number = float(value) if _NUMBER.fullmatch(value) else math.nan
        if not 0.0 <= number <= 1.0:
            raise BadRequest(f"parameter {name!r} must be a number from 0 to 1, got {value!r}")
        return number

    def flag(self, name: str, default: bool) -> bool:
        """true or false (1 or 0), or `default` if not given."""
        value = self._params.get(name)
        if value is None:
            return default
        if value in _TRUE:
            return True
        if value in _FALSE:
            return False
        raise BadRequest(f"parameter {name!r} must be true or false, got {value!r}")
