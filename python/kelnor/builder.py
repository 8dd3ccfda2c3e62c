"""Building an index from (term, video id, count) records.

Records are gathered per term and per video: a term's payload lists each of
its videos once, with the sum of that video's counts, most counted first (ties
by the video's position in the table), and its total count is the sum of all
its counts. Sums that do not fit the index's 32-bit counts are stored as
4294967295, while the order is decided on the exact sums.

The records are checked one by one as they come and gathered into columns by
the extension, which builds the index from them as it builds one from the
columns of a table (kelnor.columns).
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Iterator
from typing import NamedTuple, cast

from _kelnor import PrefixSearch, _build_from_arrow_stream, _RecordColumns

from kelnor.arrow_protocols import ArrowStreamExportable
from kelnor.folding import SpellingTally
from kelnor.folding import fold as fold_text
from kelnor.video_table import U32_MAX, VideoId

DEFAULT_VIDEO_TOP_N = 50

Record = tuple[str, VideoId, int]
Payload = tuple[int, list[int], list[int]]  # (total_count, video positions, counts)

_DEFAULT_NAMES = ("term", "video", "count")
# The longest term an index takes, in bytes of UTF-8, on every build path (the
# extension's limit): a node per character makes a runaway term an index of
# gigabytes.
MAX_TERM_BYTES = 65536


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


def _built_natively(build: Callable[[int], PrefixSearch], video_top_n: object) -> PrefixSearch:
    """`build(video_top_n)` of a native build, `video_top_n` checked as the
    record path checks it, after the rows: a refused row is said first."""
    try:
        _check_u32(video_top_n, "video_top_n")
    except (TypeError, ValueError):
        build(0)  # raises the rows' refusal, if there is one
        raise
    return build(cast(int, video_top_n))


def _folded_term(term: object) -> object:
    """`term` folded (kelnor.fold) when it is a str; anything else is left to
    the record's own checks."""
    if not isinstance(term, str):
        return term
    folded = fold_text(term)
    if term and not folded:
        raise ValueError(f"term {term!r} folds to an empty term")
    return folded


def _unpacked(record: object) -> tuple[object, object, object]:
    try:
        term, video_id, count = cast("tuple[object, object, object]", record)
    except (TypeError, ValueError):
        raise TypeError(f"a record is a (term, video id, count) triple, not {record!r}") from None
    return term, video_id, count


def _folded_records(
    records: Iterable[object], tally: SpellingTally
) -> Iterator[tuple[object, object, object]]:
    for record in records:
        term, video_id, count = _unpacked(record)
        folded = _folded_term(term)
        yield folded, video_id, count
        # Resumed only once the record was taken: its fields are sound.
        tally.add(cast(str, folded), cast(str, term), cast(int, count))


class IndexBuilder:
    """Gathers records one at a time; `build` makes an index of all so far.

    With `fold`, each term is folded (kelnor.fold) before it is gathered, so
    that records whose terms fold alike count as one term, and the index
    shows the spelling of each that was indexed most (kelnor.folding).

    A record that is refused (TypeError or ValueError) changes nothing, so a
    caller may report it and go on.
    """

    def __init__(self, fold: bool = False) -> None:
        self._columns = _RecordColumns()
        self._tally = SpellingTally() if fold else None

    def add(self, term: str, video_id: VideoId, count: int) -> None:
        if self._tally is None:
            self._columns.add(term, video_id, count)
            return
        folded = _folded_term(term)
        self._columns.add(folded, video_id, count)
        self._tally.add(cast(str, folded), term, count)

    def _extend(self, records: Iterable[object]) -> None:
        if self._tally is not None:
            self._columns.extend(_folded_records(records, self._tally), False)
        else:
            self._columns.extend(records, False)

    def internal_data_v2(self, video_top_n: int = DEFAULT_VIDEO_TOP_N) -> InternalDataV2:
        _check_u32(video_top_n, "video_top_n")
        return InternalDataV2(*self._columns.internal_data_v2(video_top_n))

    def build(
        self, video_top_n: int = DEFAULT_VIDEO_TOP_N, *, word_starts: bool = False
    ) -> PrefixSearch:
        """The index of every record so far; with `word_starts`, as
        kelnor.build's, `suggest` completes a term from any of its words."""
        _check_u32(video_top_n, "video_top_n")
        if self._tally is None:
            index = self._columns.build(video_top_n)
        else:
            index = self._columns.build(video_top_n, self._tally.spellings())
        return index._with_word_starts() if word_starts else index


def _builder_of(records: Iterable[object], fold: bool = False) -> IndexBuilder:
    builder = IndexBuilder(fold)
    builder._extend(records)
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
    *,
    term: str = "term",
    video: str = "video",
    count: str = "count",
    word_starts: bool = False,
) -> PrefixSearch:
    """The index of (term, video id, count) `records`, or of the rows of a table:
    an object of the Arrow stream interface (pyarrow, polars, pandas and DuckDB
    tables and results), read natively (see kelnor.columns), whose columns
    `term`, `video` and `count` (or the columns these arguments name) hold the
    terms, the video ids and the counts. With `fold`, of their folded terms
    (kelnor.fold), records that fold alike gathered as one; a table is built as
    it is, so its terms are to be folded before. With `word_starts`, `suggest`
    completes a term (a phrase) from any of its words (docs/suggest.md)."""
    index = _build(records, video_top_n, fold, (term, video, count))
    return index._with_word_starts() if word_starts else index


def _build(
    records: Iterable[Record] | ArrowStreamExportable,
    video_top_n: int,
    fold: bool,
    names: tuple[str, str, str],
) -> PrefixSearch:
    if hasattr(records, "__arrow_c_stream__"):
        if fold:
            raise ValueError("a table is built as it is: fold its terms first (kelnor.fold)")
        for name, given in zip(_DEFAULT_NAMES, names):
            if not isinstance(given, str):
                raise TypeError(f"{name} names a column: a str, not {type(given).__name__!r}")
        stream = records.__arrow_c_stream__()
        return _built_natively(lambda top_n: _build_from_arrow_stream(stream, top_n, *names), video_top_n)
    if names != _DEFAULT_NAMES:
        raise TypeError(
            "term, video and count name the columns of a table; records are "
            "(term, video id, count) triples"
        )
    return _builder_of(records, fold).build(video_top_n)
