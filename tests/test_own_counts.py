"""Own counts: the exact sum of a term's record counts, on every build path
and through every way an index is kept, against sums worked out here; and
what an index restored from a bare image can recover of them."""

from __future__ import annotations

import io
import pickle
from collections import Counter
from typing import Callable

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor
from kelnor.index_file import load_stream

U32_MAX = 2**32 - 1
THE = [("the", 0, 3_000_000_000), ("then", 0, 2_000_000_000)]

Records = list[tuple[str, int, int]]


def exact_order(records: Records) -> list[tuple[str, int, int]]:
    """Every term with the sum of its counts, as suggest("") ranks them."""
    sums: Counter[str] = Counter()
    for term, _, count in records:
        sums[term] += count
    return [(term, 0, count) for term, count in sorted(sums.items(), key=lambda t: (-t[1], t[0]))]


def every_term(index: kelnor.PrefixSearch) -> list[tuple[str, int, int]]:
    return index.suggest("", 0, None)


def by_records(records: Records) -> kelnor.PrefixSearch:
    return kelnor.build(records)


def by_builder(records: Records) -> kelnor.PrefixSearch:
    builder = kelnor.IndexBuilder()
    for record in records:
        builder.add(*record)
    return builder.build()


def by_table(records: Records) -> kelnor.PrefixSearch:
    pyarrow = pytest.importorskip("pyarrow", reason="pyarrow is not installed (it has no wheels for PyPy)")
    terms, videos, counts = zip(*records)
    table = pyarrow.table(
        {
            "term": terms,
            "video": pyarrow.array(videos, pyarrow.uint32()),
            "count": pyarrow.array(counts, pyarrow.uint32()),
        }
    )
    return kelnor.build(table)


def by_columns(records: Records) -> kelnor.PrefixSearch:
    terms, videos, counts = zip(*records)
    return kelnor.build_columns(list(terms), list(videos), list(counts))


def saved_and_loaded(index: kelnor.PrefixSearch, tmp_path) -> kelnor.PrefixSearch:
    path = tmp_path / "index.kelnor"
    kelnor.save(index, path)
    return kelnor.load(path)


def streamed(index: kelnor.PrefixSearch, tmp_path) -> kelnor.PrefixSearch:
    path = tmp_path / "index.kelnor"
    kelnor.save(index, path)
    return load_stream(io.BytesIO(path.read_bytes()), "<stdin>")


def pickled(index: kelnor.PrefixSearch, _) -> kelnor.PrefixSearch:
    return pickle.loads(pickle.dumps(index))


def as_built(index: kelnor.PrefixSearch, _) -> kelnor.PrefixSearch:
    return index


BUILDS = [by_records, by_builder, by_table, by_columns]
KEPT: list[Callable] = [as_built, saved_and_loaded, streamed, pickled]

big_records = st.lists(
    st.tuples(
        st.text("tha", min_size=1, max_size=3),
        st.integers(0, 3),
        st.sampled_from([0, 1, 7, 2**31, U32_MAX - 1, U32_MAX]),
    ),
    min_size=1,
    max_size=14,
)


@pytest.mark.parametrize("build", BUILDS)
@pytest.mark.parametrize("keep", KEPT)
@settings(max_examples=30, deadline=None)
@given(records=big_records)
def test_own_counts_are_the_exact_sums(tmp_path_factory, build, keep, records):
    index = keep(build(records), tmp_path_factory.mktemp("kept"))
    assert every_term(index) == exact_order(records)


@pytest.mark.parametrize("keep", KEPT)
def test_a_count_past_32_bits_below_a_term_leaves_its_own_exact(tmp_path, keep):
    index = keep(kelnor.build(THE), tmp_path)
    assert index.suggest("the", 0, complete=False) == [("the", 0, 3_000_000_000)]
    assert index.suggest("")[0] == ("the", 0, 3_000_000_000)


def test_sums_of_repeated_records_do_not_wrap():
    index = kelnor.build([("a", video % 2, U32_MAX) for video in range(5)])
    assert index.suggest("a") == [("a", 0, 5 * U32_MAX)]
    # The image keeps each video's sum and the total only up to 2^32 - 1.
    assert index.fuzzy_match_video("a", 0, min_score=0) == [("0", 1.0), ("1", 1.0)]


# A bare image holds the payload totals alone, up to 2^32 - 1: its own counts
# are derived from them, exact where no total on the way saturated.
@settings(max_examples=60, deadline=None)
@given(
    records=st.lists(
        st.tuples(st.text("tha", min_size=1, max_size=3), st.integers(0, 3), st.integers(0, 2**20)),
        min_size=1,
        max_size=14,
    )
)
def test_a_bare_image_gives_exact_counts_where_no_total_saturated(records):
    image = kelnor.build(records).to_bytes()
    assert every_term(kelnor.PrefixSearch.from_bytes(image)) == exact_order(records)


def test_a_bare_image_past_saturation_gives_what_the_totals_leave():
    restored = kelnor.PrefixSearch.from_bytes(kelnor.build(THE).to_bytes())
    # "the"'s total saturated at 2^32 - 1, less "then"'s 2,000,000,000.
    assert restored.suggest("the", 0, complete=False) == [("the", 0, U32_MAX - 2_000_000_000)]
    assert restored._own_counts() is None
