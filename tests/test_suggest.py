"""PrefixSearch.suggest against its model (model_suggest), by mode.

Both modes (completions and nearest terms), with and without transpositions,
at bounds 0 to 3 and several limits, on generated tries of any shape and on
damaged images; counts are drawn from few values so that ties in distance and
count are common. On real word lists, tries too big for the model's walk, the
reference is model_suggest.NearestTerms, term by term, itself checked against
the model on generated tries.
"""

from __future__ import annotations

import random

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import kelnor
import model_build
import model_image
import model_suggest
from _kelnor import PrefixSearch
from conftest import pypy_differs
from index_strategies import ALPHABET, damaged_images, tries_of_any_shape, tries_of_terms
from model_match import ModelPanic
from model_image import ModelDecodeError
from outcomes import outcome
from word_lists import misspelt, word_index  # noqa: F401  (a fixture)

MODES = [
    dict(complete=True, transpositions=False),
    dict(complete=False, transpositions=False),
    dict(complete=True, transpositions=True),
    dict(complete=False, transpositions=True),
]
MODE_IDS = ["complete", "exact", "complete-swaps", "exact-swaps"]
LIMITS = [None, 0, 1, 3, 10]


def model_or_skip(trie, text, max_dist, mode):
    """The model's whole answer, or None where it fails (a damaged read)."""
    try:
        return model_suggest.suggest(trie, text, max_dist, None, **mode)
    except model_suggest.ModelTooBig:
        assume(False)
    except ModelPanic:
        return None


def assert_suggests_as_the_model(index, trie, text, max_dist, mode):
    expected = model_or_skip(trie, text, max_dist, mode)
    for limit in LIMITS:
        actual = outcome(lambda: index.suggest(text, max_dist, limit, **mode))
        if expected is None:
            # The model read something it could not; the search, reading less,
            # may still answer.
            assert actual[0] in ("ok", "panic"), mode
        else:
            assert actual == ("ok", expected if limit is None else expected[:limit]), mode


# ------------------------------------------------------------------ examples

HARRY = [
    ("harry potter", 1, 50),
    ("harry", 2, 30),
    ("harry", 3, 4),
    ("hare", 3, 10),
    ("harold", 6, 3),
    ("barr", 4, 5),
    ("teh", 1, 1),
    ("the", 2, 200),
    ("spiderman", 8, 100),
    ("spider", 9, 20),
]


@pytest.fixture(scope="module")
def harry():
    return kelnor.build(HARRY)


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        # "barr" changes the typed first letter: a less likely slip.
        (("harr", 1), {}, [("harry potter", 0, 50), ("harry", 0, 34), ("hare", 1, 10),
                           ("harold", 1, 3), ("barr", 1, 5)]),
        (("harr", 1, 2), {}, [("harry potter", 0, 50), ("harry", 0, 34)]),
        (("harr", 1), {"complete": False}, [("harry", 1, 34), ("hare", 1, 10), ("barr", 1, 5)]),
        (("spiderm", 2), {}, [("spiderman", 0, 100), ("spider", 1, 20)]),
        (("teh", 1), {"complete": False, "transpositions": False}, [("teh", 0, 1)]),
        (("teh", 1), {"complete": False}, [("teh", 0, 1), ("the", 1, 200)]),
        (("hrary", 1), {"transpositions": True}, [("harry potter", 1, 50), ("harry", 1, 34)]),
        (("", 0, 3), {}, [("the", 0, 200), ("spiderman", 0, 100), ("harry potter", 0, 50)]),
        (("harr", 1, 0), {}, []),
        (("x" * 10_000, 2), {}, []),
    ],
)
def test_examples(harry, args, kwargs, expected):
    assert harry.suggest(*args, **kwargs) == expected


@pytest.mark.parametrize(
    "text, bound", [("", 0), ("har", 0), ("harr", 1), ("harry p", 1), ("harry po", 2)]
)
def test_default_bound_follows_the_typed_length(harry, text, bound):
    assert harry.suggest(text) == harry.suggest(text, bound)


def test_count_is_the_sum_of_the_terms_own_records(harry):
    counts = {term: count for term, _distance, count in harry.suggest("", 0, None)}
    assert counts["harry"] == 34 and counts["harry potter"] == 50 and counts["spider"] == 20


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda i: i.suggest(), TypeError,
         "PrefixSearch.suggest() missing 1 required positional argument: 'text'"),
        (lambda i: i.suggest("a", 1, 2, True), TypeError,
         "PrefixSearch.suggest() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda i: i.suggest("a", colour=1), TypeError,
         "PrefixSearch.suggest() got an unexpected keyword argument 'colour'"),
        (lambda i: i.suggest(b"a"), TypeError,
         "argument 'text': 'bytes' object cannot be converted to 'PyString'"),
        pytest.param(lambda i: i.suggest("a", -1), OverflowError,
                     "can't convert negative int to unsigned",
                     marks=pypy_differs("the interpreter words this OverflowError itself")),
        (lambda i: i.suggest("a", limit=2**32), OverflowError,
         "out of range integral type conversion attempted"),
        (lambda i: i.suggest("a", complete=1), TypeError,
         "argument 'complete': 'int' object cannot be converted to 'PyBool'"),
        (lambda i: i.suggest("a", transpositions=None), TypeError,
         "argument 'transpositions': 'NoneType' object cannot be converted to 'PyBool'"),
    ],
)
def test_bad_arguments(harry, call, error, message):
    with pytest.raises(error) as raised:
        call(harry)
    assert str(raised.value) == message


@pytest.mark.parametrize("text", ["ab\x00", "a\x00b", "\x00ab", "ph\x00"])
@pytest.mark.parametrize("mode", MODES, ids=MODE_IDS)
def test_a_typed_nul_is_a_sound_of_the_key(text, mode):
    """No term holds a NUL, but a text may: the phonetic key keeps it as it
    keeps every character that is no ASCII letter, so "ab" and "abc" are
    equally likely slips of "ab\\x00" and go by count."""
    records = [("ab", 1, 1), ("abc", 2, 5), ("abd", 3, 3), ("ph", 4, 1), ("phx", 5, 2)]
    args = kelnor.internal_data_v2(records)
    index = PrefixSearch.from_internal_data_v2(*args)
    expected = model_suggest.suggest(model_build.build(*args), text, 1, None, **mode)
    assert expected
    assert index.suggest(text, 1, None, **mode) == expected


@pytest.mark.parametrize("mode", MODES, ids=MODE_IDS)
def test_a_repeated_child_is_suggested_once_per_path(mode):
    # The root lists node 2 twice (and itself, unlabelled).
    args = ([0, 3, 3], ["", "", "中"], [None, None, (0, [], [])], [0, 2, 2], [], 0)
    index = PrefixSearch.from_internal_data_v2(*args)
    assert index.suggest("中", 0, **mode) == [("中", 0, 0)] * 2


# ------------------------------------------------------------- differential

texts = st.text(alphabet=ALPHABET + "x", max_size=4)
# Each drawn index answers in every mode: drawing the index costs far more
# than its queries, and every mode still meets as many indexes as it would
# with examples of its own.
properties = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@properties
@given(args=tries_of_terms() | tries_of_any_shape(), text=texts, max_dist=st.integers(0, 3))
def test_built_indexes_suggest_as_the_model(args, text, max_dist):
    try:
        trie = model_build.build(*args)
    except model_build.ModelPanic:
        return
    index = PrefixSearch.from_internal_data_v2(*args)
    for mode in MODES:
        assert_suggests_as_the_model(index, trie, text, max_dist, mode)


@properties
@given(image=damaged_images(), text=texts, max_dist=st.integers(0, 3))
def test_damaged_images_fail_or_suggest_as_the_model(image, text, max_dist):
    try:
        trie = model_image.decode(image)
    except ModelDecodeError:
        return
    index = PrefixSearch.from_bytes(image)
    restored = index.to_bytes()
    for mode in MODES:
        assert_suggests_as_the_model(index, trie, text, max_dist, mode)
    assert index.to_bytes() == restored


@properties
@given(args=tries_of_terms(), text=texts, max_dist=st.none() | st.integers(0, 3))
def test_nearest_terms_suggest_as_the_model(args, text, max_dist):
    try:
        trie = model_build.build(*args)
    except model_build.ModelPanic:
        return
    terms = model_suggest.terms_of(trie)
    for transpositions in (False, True):
        reference = model_suggest.NearestTerms(terms, text, transpositions, max_dist)
        for complete in (True, False):
            mode = dict(complete=complete, transpositions=transpositions)
            expected = model_suggest.suggest(trie, text, max_dist, None, **mode)
            assert reference.suggest(None, complete) == expected, mode


@pytest.fixture(scope="module")
def word_terms(word_index):  # noqa: F811
    trie, _index, words = word_index
    terms = model_suggest.terms_of(trie)
    assert [term for term, _count in terms] == sorted(words)
    return terms


@pytest.mark.parametrize("transpositions", [False, True], ids=["levenshtein", "swaps"])
@pytest.mark.parametrize("max_dist", [0, 1, 2, 3])
def test_word_lists_suggest_as_the_reference(
    word_index, word_terms, max_dist, transpositions  # noqa: F811
):
    _trie, index, words = word_index
    rng = random.Random(max_dist)
    texts = [misspelt(word, rng)[: rng.randint(1, 9)] for word in rng.sample(words, 6)]
    # A word and a word's prefix, which every mode finds at any bound.
    whole, cut = rng.sample(words, 2)
    texts += [whole, cut[: rng.randint(1, len(cut))]]
    answered = {True: 0, False: 0}
    for text in texts:
        reference = model_suggest.NearestTerms(word_terms, text, transpositions, max_dist)
        for complete in (True, False):
            expected = reference.suggest(None, complete)
            for limit in LIMITS:
                mode = dict(complete=complete, transpositions=transpositions)
                assert index.suggest(text, max_dist, limit, **mode) == expected[:limit]
            answered[complete] += bool(expected)
    assert answered[True] >= 2 and answered[False] >= 1
