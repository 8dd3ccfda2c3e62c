"""Queries against the Python models on indexes from every route.

An index built from generated arrays (any numbering, shared children, cycles)
must answer both queries as the model of the build followed by the model of
the queries does. An image of a valid index with a few random byte edits must
either fail to decode exactly as the model of the image does, or restore an
index that re-encodes as the model says and answers every query as the query
model does on the decoded trie: the same results, or the same PanicException
naming the same failed read.
"""

from __future__ import annotations

import math
from typing import Callable

from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import model_build
import model_image
import model_match
from _kelnor import PrefixSearch
from host_data import internal_data
from index_strategies import (
    ALPHABET,
    damaged_images,
    tries_of_any_shape,
    tries_of_terms,
    walk_is_small,
)
from model_image import ModelDecodeError
from model_trie import ModelTrie
from outcomes import outcome


def model_outcome(call: Callable) -> tuple:
    try:
        return ("ok", call())
    except (model_match.ModelPanic, model_build.ModelPanic) as error:
        return ("panic", str(error))


queries = st.tuples(
    st.text(alphabet=ALPHABET + "x", max_size=4),
    st.integers(0, 2),
    st.sampled_from([None, 0, 1, 3]),
    st.sampled_from([None, True, False]),
    st.sampled_from([None, 0.0, 0.2, -math.inf, math.nan]),
)


# Reaches every node of a small index (its terms have at most five characters).
SWEEP = ("", 5, None, True, 0.0)


def assert_queries_match(index: PrefixSearch, trie: ModelTrie, query: tuple) -> None:
    term, max_dist, limit, include, min_score = query
    assume(walk_is_small(trie, len(term) + max_dist + 1))
    pairs = [
        (
            lambda: index.fuzzy_match(term, max_dist, limit),
            lambda: model_match.fuzzy_match(trie, term, max_dist, limit),
        ),
        (
            lambda: index.fuzzy_match_video(term, max_dist, limit, include, min_score),
            lambda: model_match.fuzzy_match_video(trie, term, max_dist, limit, include, min_score),
        ),
    ]
    for actual, expected in pairs:
        assert outcome(actual) == model_outcome(expected)


# ------------------------------------------------------------ built indexes

properties = settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@properties
@given(tries_of_terms() | tries_of_any_shape(), st.lists(queries, min_size=1, max_size=4))
def test_built_indexes_answer_as_the_models(args, query_list):
    built = model_outcome(lambda: model_build.build(*args))
    index = outcome(lambda: PrefixSearch.from_internal_data_v2(*args))
    assert index[0] == built[0]
    if built[0] != "ok":
        assert index == built  # propagation read past the transitions
        return
    for query in query_list:
        assert_queries_match(index[1], built[1], query)


# ------------------------------------------------------------ damaged images

@properties
@given(damaged_images(), st.lists(queries, min_size=1, max_size=4))
def test_damaged_images_fail_or_answer_as_the_models(image, query_list):
    try:
        trie = model_image.decode(image)
    except ModelDecodeError as error:
        try:
            PrefixSearch.from_bytes(image)
        except ValueError as raised:
            assert raised.args == (f"decode error: {error.text}",)
        else:
            raise AssertionError(f"decoded, but the model fails with {error.text}")
        return
    index = PrefixSearch.from_bytes(image)
    restored = index.to_bytes()
    assert restored == model_image.encode(trie)
    for query in [SWEEP, *query_list]:
        assert_queries_match(index, trie, query)
    # Failed queries leave the index as it was.
    assert index.to_bytes() == restored


# ------------------------------------------------------------- long queries

# Words of up to 70 characters over few letters: their paths run deeper than
# the fast walk's 62 characters, and queries near them differ by a few edits.
long_words = st.text(alphabet="ab", max_size=70)


@st.composite
def long_queries(draw, words: list) -> tuple:
    """A word with up to four characters replaced or inserted and up to 12
    appended, so that the term's length falls on either side of the trie's
    deepest path plus the bound, at a bound of 0 to 9."""
    term = draw(st.sampled_from(words)) if words else ""
    for _ in range(draw(st.integers(0, 4))):
        position = draw(st.integers(0, len(term)))
        kept = position + draw(st.integers(0, 1))
        term = term[:position] + draw(st.sampled_from("abc")) + term[kept:]
    term += draw(st.text(alphabet="ab", max_size=12))
    return (term, draw(st.integers(0, 9)), None, None, None)


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.data())
def test_long_queries_answer_as_the_models(data):
    words = data.draw(st.lists(long_words, min_size=1, max_size=6))
    args = internal_data([(word, (1, [0], [1])) for word in words], [bytes(4)], 3).args()
    index = PrefixSearch.from_internal_data_v2(*args)
    trie = model_build.build(*args)
    for query in data.draw(st.lists(long_queries(words), min_size=1, max_size=4)):
        assert_queries_match(index, trie, query)
