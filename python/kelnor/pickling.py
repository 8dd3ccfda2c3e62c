"""Pickling of PrefixSearch through its image.

The extension type has no pickle support of its own; registering a reducer
with copyreg makes pickle, copy and every process pool send an index as its
image, with its exact own counts and, for an index of folded terms, its
spellings beside it (as an index file keeps them). Unpickling names `restore` in this module, so the receiving process
imports kelnor, which registers the reducer there too.
"""

from __future__ import annotations

import copyreg
from typing import Callable

from _kelnor import PrefixSearch


def restore(
    image: bytes, own_counts: bytes | None = None, spellings: dict[str, str] | None = None
) -> PrefixSearch:
    """The index whose image is `image`, with the exact `own_counts` and the
    `spellings` of a folded index when given (the unpickling side)."""
    if own_counts is None and spellings is None:
        return PrefixSearch.from_bytes(image)
    return PrefixSearch._restore(image, own_counts, spellings)


def _reduce(
    index: PrefixSearch,
) -> tuple[Callable[..., PrefixSearch], tuple[bytes, bytes | None, dict[str, str] | None]]:
    return restore, (index.to_bytes(), index._own_counts(), index._spellings())


def register() -> None:
    copyreg.pickle(PrefixSearch, _reduce)
