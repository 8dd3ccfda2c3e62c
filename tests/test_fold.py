"""kelnor.fold, and builds that fold their terms."""

from __future__ import annotations

import unicodedata

import pytest
from hypothesis import given
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
