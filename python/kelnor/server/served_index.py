"""The index a server answers from, with what /health says about it."""

from __future__ import annotations

import random
import zlib
from typing import NamedTuple

from _kelnor import PrefixSearch

from kelnor.demo import build_demo_index
from kelnor.server.image_counts import index_counts


class IndexInfo(NamedTuple):
    """What /health reports: where the index came from, its sizes and the
    CRC-32 of its image as 8 hex digits."""

    source: str
    nodes: int
    terms: int
    videos: int
    checksum: str


def _checksum(image: bytes) -> str:
    return f"{zlib.crc32(image):08x}"


def file_index_info(path: str, image: bytes) -> IndexInfo:
    """What /health says of the index whose file `path` holds `image`, an image
    that `PrefixSearch.from_bytes` accepted."""
    nodes, terms, videos = index_counts(image)
    return IndexInfo(path, nodes, terms, videos, _checksum(image))


def demo_index(seed: int = 0) -> tuple[PrefixSearch, IndexInfo]:
    """The demo's index: the shipped word sample with made-up videos."""
    index, data, _, _ = build_demo_index(None, random.Random(seed))
    terms = sum(payload is not None for payload in data.payloads)
    info = IndexInfo(
        "demo", len(data.child_labels), terms, len(data.video_index), _checksum(index.to_bytes())
    )
    return index, info
