"""A TypeError from converting an argument gets the argument's name and keeps its cause."""

from __future__ import annotations

import pytest

import kelnor


class BadIndex:
    def __index__(self) -> int:
        try:
            raise LookupError("inner reason")
        except LookupError as reason:
            raise TypeError("not today") from reason


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda index: index.fuzzy_match("a", BadIndex()), "max_dist"),
        (lambda index: index.fuzzy_match("a", 1, BadIndex()), "limit"),
        (lambda index: index.fuzzy_match_video("a", limit=BadIndex()), "limit"),
    ],
)
def test_prefixed_type_error_keeps_the_cause(call, name):
    with pytest.raises(TypeError) as info:
        call(kelnor.build([("a", 1, 1)]))
    assert str(info.value) == f"argument '{name}': not today"
    assert isinstance(info.value.__cause__, LookupError)
    assert str(info.value.__cause__) == "inner reason"
