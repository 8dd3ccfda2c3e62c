"""Building an index from (term, video id, count) records.

Records are gathered per term and per video: a term's payload lists each of
its videos once, with the sum of that video's counts, most counted first (ties
by the video's position in the table), and its total count is the sum of all
its counts. Sums that do not fit the index's 32-bit counts are stored as
4294967295, while the order is decided on the exact sums.
"""

from __future__ import annotations

import re
from collections.abc import Iterable
from typing import NamedTuple

from _kelnor import PrefixSearch, build_from_arrow_stream

from kelnor.arrow_protocols import ArrowStreamExportable
from kelnor.folding import fold as fold_text
from kelnor.trie_layout import lay_out
from kelnor.video_table import U32_MAX, VideoId, VideoTable

DEFAULT_VIDEO_TOP_N = 50

Record = tuple[str, VideoId, int]
Payload = tuple[int, list[int], list[int]]  # (total_count, video positions, counts)

# NUL marks an edge that no query may take, and a lone surrogate has no UTF-8
# form: a term holding either could never be found.
_UNSTORABLE = re.compile("[\x00\ud800-\udfff]")


class InternalDataV2(NamedTuple):
    """The six arguments of PrefixSearch.from_internal_data_v2, in its order."""

    node_shifts: list[int]
    child_labels: list[str]
    payloads: list[Payload | None]
    child_transitions: list[int]
    video_index: list[bytes]
    video_top_n: int


def _check_u32(value: object, what: str) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{what} must be an int, not {type(value).__name__!r}")
    if not 0 <= value <= U32_MAX:
        raise ValueError(f"{what} {value} is outside 0..{U32_MAX}")
    return value


def _check_new_term(term: object) -> str:
    if not isinstance(term, str):
        raise TypeError(f"a term must be a str, not {type(term).__name__!r}")
    if not term:
        raise ValueError("a term must not be empty")
    unstorable = _UNSTORABLE.search(term)
    if unstorable:
        raise ValueError(f"term {term!r} holds {unstorable.group()!r}, which an index cannot hold")
    return term


def _payload(counts: dict[int, int]) -> Payload:
    ranked = sorted(counts.items(), key=lambda item: (-item[1], item[0]))
    return (
        min(sum(counts.values()), U32_MAX),
        [position for position, _ in ranked],
        [min(count, U32_MAX) for _, count in ranked],
    )


class IndexBuilder:
    """Gathers records one at a time; `build` makes an index of all so far.

    With `fold`, each term is folded (kelnor.fold) before it is gathered, so
    that records whose terms fold alike count as one term.

    A record that is refused (TypeError or ValueError) changes nothing, so a
    caller may report it and go on.
    """

    def __init__(self, fold: bool = False) -> None:
        self._videos = VideoTable()
        self._counts: dict[str, dict[int, int]] = {}  # term -> video position -> count
        self._fold = fold

    def add(self, term: str, video_id: VideoId, count: int) -> None:
        if self._fold and isinstance(term, str):
            folded = fold_text(term)
            if term and not folded:
                raise ValueError(f"term {term!r} folds to an empty term")
            term = folded
        counts = self._counts.get(term) if isinstance(term, str) else None
        if counts is None:
            _check_new_term(term)
        _check_u32(count, "count")
        position = self._videos.position(video_id)
        if counts is None:
            counts = self._counts[term] = {}
        counts[position] = counts.get(position, 0) + count

    def internal_data_v2(self, video_top_n: int = DEFAULT_VIDEO_TOP_N) -> InternalDataV2:
        _check_u32(video_top_n, "video_top_n")
        terms = sorted(self._counts)
        layout = lay_out(terms)
        payloads: list[Payload | None] = [None] * len(layout.child_labels)
        for term, node in zip(terms, layout.term_nodes):
            payloads[node] = _payload(self._counts[term])
        return InternalDataV2(
            layout.node_shifts,
            layout.child_labels,
            payloads,
            layout.child_transitions,
            self._videos.entries(),
            video_top_n,
        )

    def build(self, video_top_n: int = DEFAULT_VIDEO_TOP_N) -> PrefixSearch:
        return PrefixSearch.from_internal_data_v2(*self.internal_data_v2(video_top_n))


def _builder_of(records: Iterable[Record], fold: bool = False) -> IndexBuilder:
    builder = IndexBuilder(fold)
    for record in records:
        try:
            term, video_id, count = record
        except (TypeError, ValueError):
            raise TypeError(
                f"a record is a (term, video id, count) triple, not {record!r}"
            ) from None
        builder.add(term, video_id, count)
    return builder


def internal_data_v2(
    records: Iterable[Record], video_top_n: int = DEFAULT_VIDEO_TOP_N
) -> InternalDataV2:
    """The arrays from which `build` makes the index of `records`."""
    return _builder_of(records).internal_data_v2(video_top_n)


def build(
    records: Iterable[Record] | ArrowStreamExportable,
    video_top_n: int = DEFAULT_VIDEO_TOP_N,
    fold: bool = False,
) -> PrefixSearch:
    """The index of (term, video id, count) `records`, or of the rows of a table
    with columns `term`, `video` and `count`: an object of the Arrow stream
    interface, read natively (see kelnor.columns). With `fold`, of their
    folded terms (kelnor.fold), records that fold alike gathered as one; a
    table is built as it is, so its terms are to be folded before."""
    if hasattr(records, "__arrow_c_stream__"):
        if fold:
            raise ValueError("a table is built as it is: fold its terms first (kelnor.fold)")
        return build_from_arrow_stream(records.__arrow_c_stream__(), video_top_n)
    return _builder_of(records, fold).build(video_top_n)
