"""The index a server answers from, with what /health says about it."""

from __future__ import annotations

import datetime
import os
import random
import zlib
from typing import Any, Callable, NamedTuple

from _kelnor import PrefixSearch, _index_sizes

from kelnor.cli.demo import build_demo_index
from kelnor.cli.user_input import shown_path
from kelnor.folding import fold, is_folded
from kelnor.index_file import file_info
from kelnor.server.catalogue import Catalogue, Row


class IndexInfo(NamedTuple):
    """What /health reports: where the index came from, its sizes and the
    CRC-32 of its image as 8 hex digits."""

    source: str
    nodes: int
    terms: int
    videos: int
    checksum: str
    # The index file it was read from (file_index_info), whose size /metrics
    # reports; None for an index made otherwise (the demo's).
    path: str | None = None


def index_info(source: str, index: PrefixSearch, checksum: str) -> IndexInfo:
    """What /health says of `index`, from `source`, whose image has `checksum`."""
    terms, videos, nodes = _index_sizes(index)
    return IndexInfo(source, nodes, terms, videos, checksum)


def file_index_info(path: str, index: PrefixSearch) -> IndexInfo:
    """What /health says of `index`, loaded from the index file (or bare image)
    at `path`, whose checksum this reads from the file's header (for a bare
    image, computes). Raises OSError and IndexFileError as `kelnor.load` does."""
    return index_info(path, index, file_info(path).checksum)._replace(path=path)


def demo_index(seed: int = 0) -> tuple[PrefixSearch, IndexInfo]:
    """The demo's index: the shipped word sample with made-up videos."""
    index = build_demo_index(None, random.Random(seed)).prefix_search
    return index, index_info("demo", index, f"{zlib.crc32(index.to_bytes()):08x}")


class Lifetime:
    """Ends (its weak references die) when its Served is freed: CPython frees
    a tuple's items last to first, so this first item outlives the index and
    catalogue of its Served."""


class Served(NamedTuple):
    """Everything a request answers from, read once at its start: a reload
    replaces the whole of it at once, and the request under way keeps the one
    it began with (freed when the last such request ends)."""

    lifetime: Lifetime  # first, so that it is freed last
    prefix_search: PrefixSearch
    lookup: Callable[[str], str]  # what is typed, as the index's terms are written
    joined: Callable[[Row], Row]  # a video answered, with its catalogue row
    health: dict[str, Any]


def _unjoined(found: Row) -> Row:
    return found


def served(index: PrefixSearch, info: IndexInfo, catalogue: Catalogue | None) -> Served:
    """What requests answer from: `index`, described by `info`, its videos
    joined to `catalogue`. Its /health says it was loaded now."""
    loaded_at = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    return Served(
        Lifetime(),
        index,
        fold if is_folded(index) else str,
        _unjoined if catalogue is None else catalogue.joined,
        {
            "status": "ok",
            "index": shown_path(os.path.basename(info.source)),
            "nodes": info.nodes,
            "terms": info.terms,
            "videos": info.videos,
            "checksum": info.checksum,
            "loaded_at": loaded_at,
        },
    )
