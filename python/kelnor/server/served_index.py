"""The index a server answers from, with what /health says about it."""

from __future__ import annotations

import random
import zlib
from typing import NamedTuple

from _kelnor import PrefixSearch, _index_sizes

from kelnor.cli.demo import build_demo_index
from kelnor.index_file import file_info


class IndexInfo(NamedTuple):
    """What /health reports: where the index came from, its sizes and the
    CRC-32 of its image as 8 hex digits."""

    source: str
    nodes: int
    terms: int
    videos: int
    checksum: str


def index_info(source: str, index: PrefixSearch, checksum: str) -> IndexInfo:
    """What /health says of `index`, from `source`, whose image has `checksum`."""
    terms, videos, nodes = _index_sizes(index)
    return IndexInfo(source, nodes, terms, videos, checksum)


def file_index_info(path: str, index: PrefixSearch) -> IndexInfo:
    """What /health says of `index`, loaded from the index file (or bare image)
    at `path`, whose checksum this reads from the file's header (for a bare
    image, computes). Raises OSError and IndexFileError as `kelnor.load` does."""
    return index_info(path, index, file_info(path).checksum)


def demo_index(seed: int = 0) -> tuple[PrefixSearch, IndexInfo]:
    """The demo's index: the shipped word sample with made-up videos."""
    index = build_demo_index(None, random.Random(seed)).prefix_search
    return index, index_info("demo", index, f"{zlib.crc32(index.to_bytes()):08x}")
