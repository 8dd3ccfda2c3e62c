"""PrefixSearch.search: the ranking rule on hand-made catalogues, the model
(model_search) on random indexes, one word against fuzzy_match_video, the
word splitter against str.isalnum, and the answers to bad input."""

from __future__ import annotations

import math
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import same_unicode_as_the_word_table
import kelnor
import model_build
import model_search
from _kelnor import PrefixSearch, _search_words
from index_strategies import ALPHABET, tries_of_terms


def ids(index: PrefixSearch, text: str, **options) -> list:
    return [video for video, _words, _score in index.search(text, **options)]


@pytest.mark.parametrize(
    "rule, records, text, expected",
    [
        (
            "more words answered beats a higher score",
            [("harry", 1, 1), ("school", 1, 1), ("harry", 2, 1000)],
            "harry school",
            ["1", "2"],
        ),
        (
            "then the higher summed score",
            [("harry", 1, 1), ("school", 1, 1), ("harry", 2, 5), ("school", 2, 5)],
            "harry school ",
            ["2", "1"],
        ),
        (
            "then the video built first",
            [("harry", 9, 3), ("harry", 4, 3)],
            "harry",
            ["9", "4"],
        ),
        (
            "a word typed exactly weighs more than a corrected one",
            [("schoal", 1, 10), ("school", 2, 1)],
            "school ",
            ["2", "1"],
        ),
        (
            "the word being typed is also a prefix",
            [("hour", 1, 10), ("house", 2, 10)],
            "hous",
            ["2", "1"],
        ),
        (
            "a finished word is a whole term",
            [("hour", 1, 10), ("house", 2, 10)],
            "hous ",
            ["1", "2"],
        ),
        (
            "a word that matches nothing leaves the others' answer",
            [("harry", 1, 1)],
            "zzzzzz harry qqqq",
            ["1"],
        ),
        (
            "a swap is one edit",
            [("potter", 1, 1), ("pitter", 2, 1)],
            "pottre",
            ["1"],
        ),
    ],
)
def test_each_rule_decides_one_case(rule, records, text, expected):
    assert ids(kelnor.build(records), text) == expected


@pytest.mark.parametrize(
    "rule, records, expected",
    [
        (
            "videos only the typed word answers tie by the video built first",
            [("school", 10, 1)] + [("harry", video, 1) for video in range(1, 7)],
            ["10", "1", "2"],
        ),
        (
            "videos answering both words keep out the typed word's best",
            [(word, video, 1) for video in (1, 2, 3) for word in ("school", "harry")]
            + [("harry", 9, 1000)],
            ["1", "2"],
        ),
    ],
)
def test_the_cut_to_the_limit_decides_one_case(rule, records, expected):
    assert ids(kelnor.build(records), "school harr", limit=len(expected)) == expected


def test_a_score_equal_to_min_score_is_kept():
    index = kelnor.build([("harry", 1, 3), ("harry", 2, 1), ("harry", 3, 1)])
    assert ids(index, "harry", min_score=1 / 5) == ["1", "2", "3"]
    assert ids(index, "harry", min_score=math.nextafter(1 / 5, 1)) == ["1"]


def test_scores_sum_each_words_share_and_count_the_words():
    index = kelnor.build([("harry", 1, 3), ("harry", 2, 1), ("school", 1, 1)])
    assert index.search("harry school ") == [("1", 2, 0.75 + 1.0), ("2", 1, 0.25)]


TEXT_CHARACTERS = ALPHABET + " -,"
LETTERS = "abcé"

# Catalogues of short words over a few letters and texts of their words,
# typed in part, misspelt or not at all, so that a text's words often match
# several terms and videos answer several words.
records_lists = st.lists(
    st.tuples(st.text(LETTERS, min_size=1, max_size=5), st.integers(0, 5), st.integers(1, 9)),
    min_size=1,
    max_size=16,
)


@st.composite
def catalogue_searches(draw) -> tuple:
    records = draw(records_lists)
    term = st.sampled_from([term for term, _video, _count in records])
    word = st.one_of(
        term,
        term.flatmap(lambda t: st.integers(1, len(t)).map(lambda n: t[:n])),
        st.text(LETTERS + "x", min_size=1, max_size=5),
    )
    words = draw(st.lists(word, max_size=4))
    end = draw(st.sampled_from(["", " ", "."]))
    return kelnor.internal_data_v2(records, video_top_n=3), " ".join(words) + end


# Besides, arrays of any payloads (videos outside the video table, counts of
# 0 and 2^32 - 1) with texts of any of their letters and some separators.
searches = st.one_of(
    catalogue_searches(),
    st.tuples(tries_of_terms(), st.text(alphabet=TEXT_CHARACTERS, max_size=12)),
)


@pytest.mark.parametrize("transpositions", [False, True])
@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    search=searches,
    max_dist=st.one_of(st.none(), st.integers(0, 3)),
    limit=st.one_of(st.none(), st.integers(0, 4)),
    complete=st.booleans(),
    min_score=st.sampled_from([0.0, 0.3, 1.0, float("nan")]),
)
def test_the_ranking_is_the_models(transpositions, search, max_dist, limit, complete, min_score):
    args, text = search
    index = PrefixSearch.from_internal_data_v2(*args)
    options = dict(complete=complete, transpositions=transpositions, min_score=min_score)
    expected = model_search.search(model_build.build(*args), text, max_dist, limit, **options)
    assert index.search(text, max_dist, limit, **options) == expected


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    args=st.one_of(records_lists.map(kelnor.internal_data_v2), tries_of_terms()),
    word=st.text(alphabet=LETTERS, min_size=1, max_size=6),
    max_dist=st.integers(0, 3),
    typing=st.booleans(),
    min_score=st.sampled_from([0.0, 0.01, 0.5]),
)
def test_one_word_ranks_as_fuzzy_match_video(args, word, max_dist, typing, min_score):
    index = PrefixSearch.from_internal_data_v2(*args)
    text = word if typing else f" {word}."
    videos = index.fuzzy_match_video(
        word, max_dist, None, True if typing else None, min_score=min_score
    )
    found = index.search(text, max_dist, None, transpositions=False, min_score=min_score)
    assert found == [(video, 1, score) for video, score in videos]


@same_unicode_as_the_word_table
def test_words_are_the_runs_of_letters_and_digits_of_every_code_point():
    text = "".join(chr(c) for c in range(sys.maxunicode + 1) if not 0xD800 <= c <= 0xDFFF)
    assert _search_words(text) == model_search.words_of(text)
    assert _search_words("Harry's 3rd-year ½ école, 東京!") == ["Harry", "s", "3rd", "year", "½", "école", "東京"]


HARRY = kelnor.build([("harry", 1, 1)])


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", []),
        (" ,.;-- \t\n ", []),
        ("harry " + "x" * 100_000, [("1", 1, 1.0)]),
        ("x" * 1_000_000, []),
        (" ".join(["harry"] * 32), [("1", 32, 32.0)]),
    ],
)
def test_texts_without_usable_words_answer_at_once(text, expected):
    assert HARRY.search(text) == expected


@pytest.mark.parametrize("count", [33, 10_000])
def test_more_than_32_words_are_refused(count):
    with pytest.raises(ValueError) as raised:
        HARRY.search(" ".join(["harry"] * count))
    assert str(raised.value) == (
        f"PrefixSearch.search() takes at most 32 words; the text has {count}"
    )


@pytest.mark.parametrize(
    "call",
    [
        "({}, 5)",
        "('harry', -1)",
        "('harry', None, 'ten')",
        "('harry', complete=2)",
        "('harry', transpositions=None)",
        "('harry', 1, 2, 3)",
        "(text='harry', max_distance=1)",
    ],
)
def test_bad_arguments_fail_as_in_suggest(call):
    messages = []
    for method in ["suggest", "search"]:
        with pytest.raises((TypeError, ValueError, OverflowError)) as raised:
            eval(f"HARRY.{method}{call}")
        messages.append((type(raised.value), str(raised.value).replace(method, "METHOD")))
    assert messages[0] == messages[1]


@pytest.mark.parametrize(
    "call, message",
    [
        ("HARRY.search('harry', min_score='high')", "argument 'min_score': must be real number, not str"),
    ],
)
def test_bad_min_score_fails_with_its_reason(call, message):
    with pytest.raises(TypeError) as raised:
        eval(call)
    assert str(raised.value) == message
