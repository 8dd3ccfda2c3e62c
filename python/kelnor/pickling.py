"""Pickling of PrefixSearch through its image.

The extension type has no pickle support of its own; registering a reducer
with copyreg makes pickle, copy and every process pool send an index as its
image, with its exact own counts and, for an index of folded terms, its
spellings beside it (as an index file keeps them), and whether its phrases
are found from any word (its words are derived from the image again).
Unpickling names `restore` in this module, so the receiving process imports
kelnor, which registers the reducer there too.
"""

from __future__ import annotations

import copyreg
from typing import Callable, Union

from _kelnor import PrefixSearch

_Plain = tuple[bytes, Union[bytes, None], Union[dict[str, str], None]]
_WithWordStarts = tuple[bytes, Union[bytes, None], Union[dict[str, str], None], bool]


def restore(
    image: bytes,
    own_counts: bytes | None = None,
    spellings: dict[str, str] | None = None,
    word_starts: bool = False,
) -> PrefixSearch:
    """The index whose image is `image`, with the exact `own_counts` and the
    `spellings` of a folded index when given, and its phrases found from any
    word when it had `word_starts` (the unpickling side)."""
    if own_counts is None and spellings is None:
        index = PrefixSearch.from_bytes(image)
    else:
        index = PrefixSearch._restore(image, own_counts, spellings)
    return index._with_word_starts() if word_starts else index


def _reduce(
    index: PrefixSearch,
) -> tuple[Callable[..., PrefixSearch], _Plain | _WithWordStarts]:
    plain: _Plain = (index.to_bytes(), index._own_counts(), index._spellings())
    return restore, (*plain, True) if index._has_word_starts() else plain


def register() -> None:
    copyreg.pickle(PrefixSearch, _reduce)
