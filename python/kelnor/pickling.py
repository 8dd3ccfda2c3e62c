"""Pickling of PrefixSearch through its image.

The extension type has no pickle support of its own; registering a reducer
with copyreg makes pickle, copy and every process pool send an index as its
image (and whether its phrases are found from any word, which is derived
from the image again). Unpickling names `restore` in this module, so the receiving process
imports kelnor, which registers the reducer there too.
"""

from __future__ import annotations

import copyreg
from typing import Callable

from _kelnor import PrefixSearch


def restore(image: bytes, word_starts: bool = False) -> PrefixSearch:
    """The index whose image is `image` (the unpickling side), with its phrases
    found from any word when it had `word_starts`."""
    index = PrefixSearch.from_bytes(image)
    return index._with_word_starts() if word_starts else index


def _reduce(
    index: PrefixSearch,
) -> tuple[Callable[[bytes, bool], PrefixSearch], tuple[bytes] | tuple[bytes, bool]]:
    image = index.to_bytes()
    # A plain index pickles as it always has, so that older readers take it.
    return restore, (image, True) if index._has_word_starts() else (image,)


def register() -> None:
    copyreg.pickle(PrefixSearch, _reduce)
