"""Folding text so that case, accents and spacing do not keep a search apart.

`fold("  Café\u00a0NOIR ")` is "cafe noir": the compatibility decomposition
(ligatures and full-width forms become plain letters, "é" becomes "e" and a
combining accent), then case folding ("ß" becomes "ss"), then the combining
marks dropped, and every run of whitespace made one space, trimmed.

What it loses: accents and case stop telling terms apart ("resume" and
"résumé" become one term), and so do compatibility forms ("ﬁ" and "fi",
"²" and "2"); scripts whose letters are built from marks lose those marks
too. Fold both sides, the indexed terms and what is typed, or neither.

An index built with folding knows it: `is_folded` says so, and the command
line and the server fold what is typed for it. Its suggestions show, for each
folded term, the original spelling indexed with the greatest sum of counts
(ties: the first in code point order), as `SpellingTally` picks it; a
spelling is taken composed (NFC) with its whitespace made single spaces and
trimmed, so "Cafe\u0301 " and "Café" are one spelling.
"""

from __future__ import annotations

import unicodedata

from _kelnor import PrefixSearch


def _is_mark(character: str) -> bool:
    return unicodedata.category(character).startswith("M")


def fold(text: str) -> str:
    """`text` without case, accents or extra whitespace (see the module's notes)."""
    # Case folding can bring back decomposable characters ("İ" folds to "i"
    # and a combining dot), so the text is decomposed again after it.
    decomposed = unicodedata.normalize("NFKD", unicodedata.normalize("NFKD", text).casefold())
    return " ".join("".join(c for c in decomposed if not _is_mark(c)).split())


def is_folded(index: PrefixSearch) -> bool:
    """Whether `index` was built of folded terms (so what is typed is to be folded)."""
    return index._is_folded()


def typed_for(index: PrefixSearch, text: str) -> str:
    """What is to be looked up in `index` for the typed `text`: `text` folded
    when the index's terms are."""
    return fold(text) if is_folded(index) else text


class SpellingTally:
    """The original spellings of folded terms, each with the sum of its counts."""

    def __init__(self) -> None:
        # By term as given: the sum of its counts, and its folded term. A
        # spelling is worked out once per distinct term, not per record.
        self._sums: dict[str, int] = {}
        self._folded: dict[str, str] = {}

    def add(self, folded: str, term: str, count: int) -> None:
        if term in self._sums:
            self._sums[term] += count
        else:
            self._sums[term] = count
            self._folded[term] = folded

    def spellings(self) -> dict[str, str]:
        """By folded term, the spelling to show for it where that is not the
        folded term: the one of the greatest sum, the first in code point
        order among equal sums."""
        sums: dict[str, dict[str, int]] = {}
        for term, count in self._sums.items():
            spelling = " ".join(unicodedata.normalize("NFC", term).split())
            by_spelling = sums.setdefault(self._folded[term], {})
            by_spelling[spelling] = by_spelling.get(spelling, 0) + count
        shown = {}
        for folded, by_spelling in sums.items():
            best = min(by_spelling.items(), key=lambda item: (-item[1], item[0]))[0]
            if best != folded:
                shown[folded] = best
        return shown
