"""The order of suggestions: each rule of the spelling cost once, on indexes
where the count alone would rank the other way, and the order against its
model (model_suggest, model_spelling) on texts that exercise the phonetic key.
"""

from __future__ import annotations

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kelnor
import model_build
import model_suggest
from _kelnor import PrefixSearch


def ranked(terms_by_count, text, max_dist=None, **options):
    index = kelnor.build([(term, 0, count) for term, count in terms_by_count])
    return [term for term, _distance, _count in index.suggest(text, max_dist, None, **options)]


@pytest.mark.parametrize(
    "rule, text, likely, popular",
    [
        ("a swap is cheaper than a substitution", "tiem", "time", "toem"),
        ("a doubled letter left out is cheaper than another", "tiner", "tinner", "tinier"),
        ("a doubled letter typed twice is cheaper than another", "untill", "until", "untiel"),
        ("a letter left out is cheaper than one typed too many", "bet", "beat", "bt"),
        ("the typed first letter is kept", "kat", "kit", "cat"),
        ("the typed sound is kept: c before t sounds as k", "akt", "act", "apt"),
    ],
)
def test_a_likely_slip_ranks_before_a_more_counted_word(rule, text, likely, popular):
    assert ranked([(likely, 1), (popular, 100)], text, 2, complete=False)[:2] == [likely, popular]


def test_equally_likely_slips_rank_by_count_then_text():
    words = [("tame", 5), ("tome", 9), ("tume", 5)]
    assert ranked(words, "time", 1, complete=False) == ["tome", "tame", "tume"]


@pytest.mark.parametrize(
    "transpositions, expected", [(None, [("this", 1, 7)]), (False, [("this", 2, 7)])]
)
def test_a_swap_is_one_edit_by_default_and_the_distance_stays_the_edit_count(
    transpositions, expected
):
    index = kelnor.build([("this", 0, 7)])
    options = {} if transpositions is None else {"transpositions": transpositions}
    assert index.suggest("thsi", 2, complete=False, **options) == expected
    assert index.fuzzy_match("thsi", 2) == [("this", 1, 2)]


def test_completions_rank_by_distance_then_by_the_likelier_slip():
    words = [("acoma", 1), ("accommodation", 3), ("company", 100), ("come", 90)]
    # "acoma" needs no typo; "accom" lacks a doubled letter, "com" has its
    # first letter typed too many.
    assert ranked(words, "acom") == ["acoma", "accommodation", "company", "come"]


# ------------------------------------------------------------- differential

LETTERS = "acehkpqtxyzK"
words = st.text(alphabet=LETTERS, min_size=1, max_size=6)
texts = st.text(alphabet=LETTERS, max_size=5)


# Each drawn index is asked in all four modes: the drawing costs more than
# the queries, and each mode still meets 120 indexes.
@settings(max_examples=120, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    terms=st.lists(st.tuples(words, st.sampled_from([1, 2, 5])), max_size=12),
    text=texts,
    max_dist=st.integers(0, 3),
)
def test_the_order_is_the_models(terms, text, max_dist):
    args = kelnor.internal_data_v2([(term, 0, count) for term, count in terms])
    trie = model_build.build(*args)
    index = PrefixSearch.from_internal_data_v2(*args)
    for complete in (False, True):
        for transpositions in (False, True):
            options = {"complete": complete, "transpositions": transpositions}
            expected = model_suggest.suggest(trie, text, max_dist, None, **options)
            assert index.suggest(text, max_dist, None, **options) == expected, options
