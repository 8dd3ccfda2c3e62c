"""Pickling of PrefixSearch through its image.

The extension type has no pickle support of its own; registering a reducer
with copyreg makes pickle, copy and every process pool send an index as its
image. Unpickling names `restore` in this module, so the receiving process
imports kelnor, which registers the reducer there too.
"""

from __future__ import annotations

import copyreg
from typing import Callable

from _kelnor import PrefixSearch


def restore(image: bytes) -> PrefixSearch:
    """The index whose image is `image` (the unpickling side)."""
    return PrefixSearch.from_bytes(image)


def _reduce(index: PrefixSearch) -> tuple[Callable[[bytes], PrefixSearch], tuple[bytes]]:
    return restore, (index.to_bytes(),)


def register() -> None:
    copyreg.pickle(PrefixSearch, _reduce)
