"""kelnor.fold, and builds that fold their terms."""

from __future__ import annotations

import pickle
import unicodedata

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor


@pytest.mark.parametrize(
    "text, folded",
    [
        ("HARRY Potter", "harry potter"),
        ("Cafe\u0301", "cafe"),  # decomposed accent
        ("café", "cafe"),  # composed
        ("Straße", "strasse"),
        ("İstanbul", "istanbul"),
        ("ﬁve ½ ＡＢＣ", "five 1⁄2 abc"),  # ligature, fraction, full-width
        ("  a\t\n b\u00a0\u2003c  ", "a b c"),
        ("\u0301\u0308", ""),
        ("", ""),
    ],
)
def test_fold_examples(text, folded):
    assert kelnor.fold(text) == folded


@given(st.text())
def test_fold_leaves_no_marks_case_or_extra_space(text):
    folded = kelnor.fold(text)
    assert kelnor.fold(folded) == folded
    assert not any(unicodedata.category(c).startswith("M") for c in folded)
    assert folded == " ".join(folded.split())


def test_build_gathers_records_that_fold_alike():
    index = kelnor.build([("Café", 1, 2), ("cafe\u0301 ", 2, 3), ("CAFE", 1, 1)], fold=True)
    # Shown in the spelling indexed most, composed and trimmed.
    assert index.suggest("cafe") == [("café", 0, 6)]
    assert sorted(index.fuzzy_match_video("cafe", 0)) == [("1", 0.5), ("2", 0.5)]
    assert kelnor.build([("Café", 1, 2)]).suggest("cafe") == []


def test_build_refuses_a_term_that_folds_to_nothing():
    with pytest.raises(ValueError) as raised:
        kelnor.build([("\u0301", 1, 1)], fold=True)
    assert str(raised.value) == "term '\u0301' folds to an empty term"


def shown_spellings(records: list[tuple[str, int, int]]) -> list[tuple[str, int, int]]:
    """Every folded term as suggest("") gives it: the spelling whose records
    sum highest (then the first in code point order), composed and with its
    whitespace made single, and the sum over every spelling."""
    sums: dict[str, dict[str, int]] = {}
    for term, _, count in records:
        spelling = " ".join(unicodedata.normalize("NFC", term).split())
        by_spelling = sums.setdefault(kelnor.fold(term), {})
        by_spelling[spelling] = by_spelling.get(spelling, 0) + count
    shown = []
    for by_spelling in sums.values():
        best = max(by_spelling.values())
        shown.append((min(s for s, n in by_spelling.items() if n == best), sum(by_spelling.values())))
    # Ranked by count, then by the folded term.
    shown.sort(key=lambda item: (-item[1], kelnor.fold(item[0])))
    return [(spelling, 0, count) for spelling, count in shown]


@settings(max_examples=150, deadline=None)
@given(
    records=st.lists(
        st.tuples(
            st.text(alphabet="aAeÉé\u0301 ", min_size=1, max_size=4).filter(kelnor.fold),
            st.integers(0, 3),
            st.integers(0, 5),
        ),
        min_size=1,
        max_size=12,
    )
)
def test_a_folded_build_shows_the_spelling_indexed_most(tmp_path_factory, records):
    index = kelnor.build(records, fold=True)
    assert index.suggest("", 0, None) == shown_spellings(records)
    path = tmp_path_factory.mktemp("folded") / "index.kelnor"
    kelnor.save(index, path)
    assert kelnor.load(path).suggest("", 0, None) == shown_spellings(records)
    assert pickle.loads(pickle.dumps(index))._spellings() == index._spellings()


@pytest.mark.parametrize(
    "refused, error",
    [
        (("ÉCOLE", 1, -1), "count -1 is outside 0..4294967295"),
        (("ÉCOLE", 1.5, 9), "a video id is a uuid.UUID, a UUID string or an int, not 'float'"),
    ],
)
def test_a_refused_record_leaves_no_spelling_behind(refused, error):
    builder = kelnor.IndexBuilder(fold=True)
    with pytest.raises((TypeError, ValueError)) as raised:
        builder.add(*refused)
    assert str(raised.value) == error
    builder.add("ecole", 1, 1)
    assert builder.build().suggest("ecole") == [("ecole", 0, 1)]


@pytest.mark.parametrize(
    "spellings, error, message",
    [
        ({"a\0b": "A"}, ValueError, "a spelling holds '\\x00', which an index cannot hold"),
        ({"a": "A\0"}, ValueError, "a spelling holds '\\x00', which an index cannot hold"),
        ({"a": 1}, TypeError, "argument 'spellings': 'dict' object cannot be converted to 'dict[str, str]'"),
        ([("a", "A")], TypeError, "argument 'spellings': 'list' object cannot be converted to 'dict[str, str]'"),
    ],
)
def test_restored_spellings_are_checked(spellings, error, message):
    image = kelnor.build([("a", 1, 1)]).to_bytes()
    with pytest.raises(error) as raised:
        kelnor.PrefixSearch._restore(image, None, spellings)
    assert str(raised.value) == message
