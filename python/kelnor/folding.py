"""Folding text so that case, accents and spacing do not keep a search apart.

`fold("  Café\u00a0NOIR ")` is "cafe noir": the compatibility decomposition
(ligatures and full-width forms become plain letters, "é" becomes "e" and a
combining accent), then case folding ("ß" becomes "ss"), then the combining
marks dropped, and every run of whitespace made one space, trimmed.

What it loses: accents and case stop telling terms apart ("resume" and
"résumé" become one term), and so do compatibility forms ("ﬁ" and "fi",
"²" and "2"); scripts whose letters are built from marks lose those marks
too. Fold both sides, the indexed terms and what is typed, or neither.
"""

from __future__ import annotations

import unicodedata


def _is_mark(character: str) -> bool:
    return unicodedata.category(character).startswith("M")


def fold(text: str) -> str:
    """`text` without case, accents or extra whitespace (see the module's notes)."""
    # Case folding can bring back decomposable characters ("İ" folds to "i"
    # and a combining dot), so the text is decomposed again after it.
    decomposed = unicodedata.normalize("NFKD", unicodedata.normalize("NFKD", text).casefold())
    return " ".join("".join(c for c in decomposed if not _is_mark(c)).split())
