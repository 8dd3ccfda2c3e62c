"""kelnor.build and kelnor.internal_data_v2: from (term, video id, count) records to an index.

The builder is checked against the hand-made arrays of host_data for the same
terms and payloads, and its indexes against a brute-force edit distance over
the terms: children are laid out in label order, so fuzzy_match lists its
matches in code point order of their text.
"""

from __future__ import annotations

import random
import uuid
from collections import Counter, defaultdict
from functools import lru_cache
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor
from _kelnor import PrefixSearch
from host_data import TWO_TERMS, internal_data

U32_MAX = 2**32 - 1
SAMPLE = Path(kelnor.__file__).parent / "words" / "sample.txt"


def sample_words() -> list:
    return SAMPLE.read_text(encoding="utf-8").split()


# ------------------------------------------------------------------ models


def video_entry(video_id) -> bytes:
    if isinstance(video_id, int):
        return video_id.to_bytes(4, "little")
    return uuid.UUID(str(video_id)).bytes


def model_arrays(records, video_top_n=kelnor.DEFAULT_VIDEO_TOP_N) -> tuple:
    """The six arguments, made by host_data from per-term payloads summed by hand."""
    positions = {}
    counts = defaultdict(Counter)
    for term, video_id, count in records:
        position = positions.setdefault(video_entry(video_id), len(positions))
        counts[term][position] += count
    entries = []
    for term in sorted(counts):
        ranked = sorted(counts[term].items(), key=lambda item: (-item[1], item[0]))
        payload = (
            min(sum(counts[term].values()), U32_MAX),
            [position for position, _ in ranked],
            [min(count, U32_MAX) for _, count in ranked],
        )
        entries.append((term, payload))
    return internal_data(entries, video_index=list(positions), video_top_n=video_top_n).args()


# Remembered: the word-list test asks for each pair at three bounds.
@lru_cache(maxsize=None)
def levenshtein(a: str, b: str) -> int:
    row = list(range(len(b) + 1))
    for i, x in enumerate(a, 1):
        previous, row[0] = row[0], i
        for j, y in enumerate(b, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (x != y))
    return row[-1]


def brute_force_matches(terms, query: str, max_dist: int) -> list:
    return [
        (term, 1, distance)
        for term in sorted(set(terms))
        if (distance := levenshtein(query, term)) <= max_dist
    ]


def word_records(words, rng: random.Random, video_ids) -> list:
    return [
        (word, rng.choice(video_ids), rng.randint(1, 1000))
        for word in words
        for _ in range(rng.randint(1, 3))
    ]


def typo(word: str, rng: random.Random) -> str:
    i = rng.randrange(len(word))
    return rng.choice([word[:i] + word[i + 1 :], word[:i] + "e" + word[i + 1 :], word + "s"])


# ---------------------------------------------------------- worked example


def test_two_terms_example():
    records = [("ab", 7, 5), ("ac", 9, 2), ("ac", 7, 1)]
    assert kelnor.internal_data_v2(records, video_top_n=10) == TWO_TERMS
    index = kelnor.build(records, video_top_n=10)
    assert index.fuzzy_match("a", 1) == [("ab", 1, 1), ("ac", 1, 1)]
    assert index.fuzzy_match_video("ab", 0) == [("7", 1.0)]


# ------------------------------------------------ against hand-made arrays


@pytest.fixture(scope="module")
def word_index_records():
    rng = random.Random(11)
    return word_records(sample_words(), rng, list(range(1, 5000)))


def test_real_word_list_agrees_with_hand_made_arrays(word_index_records):
    expected = model_arrays(word_index_records)
    assert tuple(kelnor.internal_data_v2(word_index_records)) == expected
    built = kelnor.build(word_index_records)
    by_hand = PrefixSearch.from_internal_data_v2(*expected)
    assert built.to_bytes() == by_hand.to_bytes()
    rng = random.Random(5)
    for word in rng.sample(sample_words(), 40):
        query = typo(word, rng)
        assert built.fuzzy_match(query, 2) == by_hand.fuzzy_match(query, 2)
        assert built.fuzzy_match_video(query) == by_hand.fuzzy_match_video(query)


def test_real_word_list_answers_are_the_edit_distances():
    words = random.Random(3).sample(sample_words(), 1500)
    index = kelnor.build((word, 1, 1) for word in words)
    rng = random.Random(4)
    for word in rng.sample(words, 25):
        query = typo(word, rng)
        for max_dist in (0, 1, 2):
            assert index.fuzzy_match(query, max_dist) == brute_force_matches(words, query, max_dist)


TERMS = st.text(alphabet="abcé", min_size=1, max_size=5)
RECORDS = st.lists(
    st.tuples(TERMS, st.integers(0, 5), st.integers(0, 3)).map(lambda r: (r[0], r[1] * 1000, r[2])),
    max_size=30,
)


@settings(max_examples=200, deadline=None)
@given(records=RECORDS, top_n=st.integers(0, 4), query=st.text(alphabet="abcé", max_size=5))
def test_generated_records(records, top_n, query):
    data = kelnor.internal_data_v2(records, top_n)
    assert tuple(data) == model_arrays(records, top_n)
    index = kelnor.build(records, top_n)
    terms = [term for term, _, _ in records]
    assert index.fuzzy_match(query, 1) == brute_force_matches(terms, query, 1)


@given(records=RECORDS)
def test_shape_of_the_trie(records):
    data = kelnor.internal_data_v2(records)
    terms = {term for term, _, _ in records}
    prefixes = {term[:end] for term in terms for end in range(1, len(term) + 1)}
    assert len(data.child_labels) == len(prefixes) + 1  # shared prefixes share nodes
    for parent, start in enumerate(data.node_shifts):
        end = data.node_shifts[parent + 1] if parent + 1 < len(data.node_shifts) else None
        assert all(child > parent for child in data.child_transitions[start:end])
    assert sum(payload is not None for payload in data.payloads) == len(terms)


# ----------------------------------------------------------------- payloads


def test_counts_are_summed_per_term_and_video():
    records = [("cat", 5, 2), ("cat", 6, 7), ("cat", 5, 4), ("dog", 6, 1)]
    data = kelnor.internal_data_v2(records)
    assert data.payloads[data.child_labels.index("t")] == (13, [1, 0], [7, 6])


def test_equal_counts_keep_table_order():
    data = kelnor.internal_data_v2([("a", 9, 3), ("b", 8, 1), ("a", 8, 3)])
    assert data.payloads[1] == (6, [0, 1], [3, 3])


def test_sums_above_32_bits_are_stored_saturated_and_ranked_exactly():
    records = [("a", 1, U32_MAX), ("a", 1, 2), ("a", 2, U32_MAX)]
    data = kelnor.internal_data_v2(records)
    assert data.payloads[1] == (U32_MAX, [0, 1], [U32_MAX, U32_MAX])


def test_video_top_n_is_passed_on():
    records = [("a", video, video) for video in range(1, 6)]
    assert kelnor.internal_data_v2(records, video_top_n=2).video_top_n == 2
    index = kelnor.build(records, video_top_n=2)
    assert [video for video, _ in index.fuzzy_match_video("a", 0, min_score=0)] == ["5", "4"]
    assert kelnor.internal_data_v2(records).video_top_n == kelnor.DEFAULT_VIDEO_TOP_N


def test_no_records_give_an_index_that_finds_nothing():
    data = kelnor.internal_data_v2([])
    assert tuple(data) == ([0], [""], [None], [], [], kelnor.DEFAULT_VIDEO_TOP_N)
    assert kelnor.build(iter([])).fuzzy_match("", 5) == []


def test_builder_gathers_records_one_at_a_time():
    builder = kelnor.IndexBuilder()
    builder.add("cat", 1, 2)
    first = builder.build().to_bytes()
    builder.add("car", 2, 3)
    assert builder.internal_data_v2() == kelnor.internal_data_v2([("cat", 1, 2), ("car", 2, 3)])
    assert builder.build().to_bytes() != first


# ---------------------------------------------------------------- video ids

VIDEO = uuid.UUID("00010203-0405-0607-0809-0a0b0c0d0e0f")


@pytest.mark.parametrize(
    "ids, texts",
    [
        ([VIDEO], [str(VIDEO)]),
        ([str(VIDEO).upper()], [str(VIDEO)]),
        ([VIDEO, str(VIDEO), "{" + VIDEO.hex + "}"], [str(VIDEO)]),
        ([0, U32_MAX], ["4294967295", "0"]),
    ],
)
def test_video_id_kinds(ids, texts):
    records = [("a", video_id, 1 + k) for k, video_id in enumerate(ids)]
    index = kelnor.build(records)
    assert [video for video, _ in index.fuzzy_match_video("a", 0)] == texts


@pytest.mark.parametrize(
    "ids, message",
    [
        (
            [7, VIDEO],
            f"video id {VIDEO!r} is a UUID, but this index's earlier video ids are integers; "
            "an index holds one kind of video id",
        ),
        (
            [str(VIDEO), 7],
            "video id 7 is an integer, but this index's earlier video ids are UUIDs; "
            "an index holds one kind of video id",
        ),
        (["7"], "video id '7' is not a UUID string (give integer ids as int)"),
        ([-1], "integer video id -1 is outside 0..4294967295"),
        ([2**32], "integer video id 4294967296 is outside 0..4294967295"),
    ],
)
def test_video_id_errors(ids, message):
    with pytest.raises(ValueError) as info:
        kelnor.build(("a", video_id, 1) for video_id in ids)
    assert str(info.value) == message


@pytest.mark.parametrize("video_id, name", [(True, "bool"), (1.0, "float"), (VIDEO.bytes, "bytes")])
def test_video_id_types(video_id, name):
    with pytest.raises(TypeError) as info:
        kelnor.build([("a", video_id, 1)])
    assert str(info.value) == f"a video id is a uuid.UUID, a UUID string or an int, not '{name}'"


# ------------------------------------------------------------ record errors


@pytest.mark.parametrize(
    "record, error, message",
    [
        (("", 1, 1), ValueError, "a term must not be empty"),
        (("a\x00b", 1, 1), ValueError, "term 'a\\x00b' holds '\\x00', which an index cannot hold"),
        (
            ("a\ud800", 1, 1),
            ValueError,
            "term 'a\\ud800' holds '\\ud800', which an index cannot hold",
        ),
        ((b"a", 1, 1), TypeError, "a term must be a str, not 'bytes'"),
        (("a", 1, -1), ValueError, "count -1 is outside 0..4294967295"),
        (("a", 1, 2**32), ValueError, "count 4294967296 is outside 0..4294967295"),
        (("a", 1, 1.0), TypeError, "count must be an int, not 'float'"),
        (("a", 1, True), TypeError, "count must be an int, not 'bool'"),
        (("a", 1), TypeError, "a record is a (term, video id, count) triple, not ('a', 1)"),
        (None, TypeError, "a record is a (term, video id, count) triple, not None"),
    ],
)
def test_record_errors(record, error, message):
    with pytest.raises(error) as info:
        kelnor.internal_data_v2([("ok", 1, 1), record])
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize("record", [("", 1, 1), ("new", 1, -1), ("new", VIDEO, 1), ("ok", 1.5, 1)])
def test_refused_record_changes_nothing(record):
    builder = kelnor.IndexBuilder()
    builder.add("ok", 1, 1)
    before = builder.internal_data_v2()
    with pytest.raises((TypeError, ValueError)):
        builder.add(*record)
    assert builder.internal_data_v2() == before


@pytest.mark.parametrize(
    "top_n, error, message",
    [
        (-1, ValueError, "video_top_n -1 is outside 0..4294967295"),
        (2**32, ValueError, "video_top_n 4294967296 is outside 0..4294967295"),
        (None, TypeError, "video_top_n must be an int, not 'NoneType'"),
        (True, TypeError, "video_top_n must be an int, not 'bool'"),
    ],
)
@pytest.mark.parametrize("path", ["records", "lists", "arrow columns", "table"])
def test_video_top_n_errors_on_every_path_after_the_rows(top_n, error, message, path):
    with pytest.raises(error) as info:
        built_by(path, [("a", 1, 1)], top_n)
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:  # a refused row comes first
        built_by(path, [("a", 1, 1), ("", 2, 1)], top_n)
    assert str(info.value) == ("row 1: " if path != "records" else "") + "a term must not be empty"


def built_by(path: str, rows: list, video_top_n: object) -> kelnor.PrefixSearch:
    """The index of `rows` by one of the build's paths."""
    if path == "records":
        return kelnor.build(rows, video_top_n=video_top_n)
    columns = [list(column) for column in zip(*rows)]
    if path == "lists":
        return kelnor.build_columns(*columns, video_top_n=video_top_n)
    pa = pytest.importorskip("pyarrow")
    if path == "arrow columns":
        return kelnor.build_columns(*map(pa.array, columns), video_top_n=video_top_n)
    table = pa.table(dict(zip(("term", "video", "count"), columns)))
    return kelnor.build(table, video_top_n=video_top_n)
