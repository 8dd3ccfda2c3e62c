from collections.abc import Iterable, Sequence
from typing import Protocol, SupportsIndex, final

__all__ = ["PrefixSearch"]

# A string column through the Arrow PyCapsule protocols: an array
# (__arrow_c_array__) or a chunked array (__arrow_c_stream__).
class _ArrowArray(Protocol):
    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]: ...

class _ArrowStream(Protocol):
    def __arrow_c_stream__(self, requested_schema: object = None) -> object: ...

_ArrowStringColumn = _ArrowArray | _ArrowStream

# A batch's texts: a list or a tuple, or any sequence of str, such as a numpy
# array of them.
class _Texts(Protocol):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> str: ...

# A flag: True or False, or numpy's bool_.
class _BoolScalar(Protocol):
    def item(self) -> bool: ...

_Flag = bool | _BoolScalar

_Payload = tuple[SupportsIndex, Sequence[SupportsIndex], Sequence[SupportsIndex]]

@final
class PrefixSearch:
    @staticmethod
    def from_internal_data_v2(
        node_shifts: Sequence[SupportsIndex],
        child_labels: Sequence[str],
        payloads: Sequence[_Payload | None],
        child_transitions: Sequence[SupportsIndex],
        video_index: Sequence[Sequence[SupportsIndex]],
        video_top_n: SupportsIndex,
    ) -> PrefixSearch: ...
    def to_bytes(self) -> bytes: ...
    @staticmethod
    def from_bytes(b: bytes) -> PrefixSearch: ...
    def fuzzy_match(
        self, term: str, max_dist: SupportsIndex = 1, limit: SupportsIndex | None = None
    ) -> list[tuple[str, int, int]]: ...
    def fuzzy_match_video(
        self,
        term: str,
        max_dist: SupportsIndex = 1,
        limit: SupportsIndex | None = None,
        include_prefix_nodes: _Flag | None = None,
        min_score: float | None = None,
    ) -> list[tuple[str, float]]: ...
    def suggest(
        self,
        text: str,
        max_dist: SupportsIndex | None = None,
        limit: SupportsIndex | None = 10,
        *,
        complete: _Flag = True,
        transpositions: _Flag = True,
    ) -> list[tuple[str, int, int]]: ...
    def search(
        self,
        text: str,
        max_dist: SupportsIndex | None = None,
        limit: SupportsIndex | None = 10,
        *,
        complete: _Flag = True,
        transpositions: _Flag = True,
        min_score: float = 0.0,
    ) -> list[tuple[str, int, float]]: ...
    # The batch calls: the single call's answer for every text, in order.
    def fuzzy_match_many(
        self,
        terms: _Texts | _ArrowStringColumn,
        max_dist: SupportsIndex = 1,
        limit: SupportsIndex | None = None,
        *,
        workers: SupportsIndex = 1,
    ) -> list[list[tuple[str, int, int]]]: ...
    def fuzzy_match_video_many(
        self,
        terms: _Texts | _ArrowStringColumn,
        max_dist: SupportsIndex = 1,
        limit: SupportsIndex | None = None,
        include_prefix_nodes: _Flag | None = None,
        min_score: float | None = None,
        *,
        workers: SupportsIndex = 1,
    ) -> list[list[tuple[str, float]]]: ...
    def suggest_many(
        self,
        texts: _Texts | _ArrowStringColumn,
        max_dist: SupportsIndex | None = None,
        limit: SupportsIndex | None = 10,
        *,
        complete: _Flag = True,
        transpositions: _Flag = True,
        workers: SupportsIndex = 1,
    ) -> list[list[tuple[str, int, int]]]: ...
    def search_many(
        self,
        texts: _Texts | _ArrowStringColumn,
        max_dist: SupportsIndex | None = None,
        limit: SupportsIndex | None = 10,
        *,
        complete: _Flag = True,
        transpositions: _Flag = True,
        min_score: float = 0.0,
        workers: SupportsIndex = 1,
    ) -> list[list[tuple[str, int, float]]]: ...
    def _own_counts(self) -> bytes | None: ...
    def _spellings(self) -> dict[str, str] | None: ...
    def _is_folded(self) -> bool: ...
    @staticmethod
    def _restore(
        image: bytes, own_counts: bytes | None, spellings: dict[str, str] | None
    ) -> PrefixSearch: ...
    # The package's: the index whose phrases suggest completes from any word.
    def _with_word_starts(self) -> PrefixSearch: ...
    def _has_word_starts(self) -> bool: ...

# The kelnor package's native helpers.
@final
class _RecordColumns:
    def __init__(self) -> None: ...
    def add(self, term: object, video_id: object, count: object) -> None: ...
    def extend(self, records: Iterable[object], numbered: bool) -> None: ...
    def build(
        self, video_top_n: SupportsIndex, spellings: dict[str, str] | None = None
    ) -> PrefixSearch: ...
    def internal_data_v2(
        self, video_top_n: SupportsIndex
    ) -> tuple[
        list[int],
        list[str],
        list[tuple[int, list[int], list[int]] | None],
        list[int],
        list[bytes],
        int,
    ]: ...

def _build_from_arrow_stream(
    stream: object, video_top_n: SupportsIndex, term: str, video: str, count: str
) -> PrefixSearch: ...
def _build_from_columns(
    terms: object, videos: object, counts: object, video_top_n: SupportsIndex
) -> PrefixSearch: ...
def _build_from_text_records(
    data: bytes | Iterable[bytes], separator: str, video_top_n: SupportsIndex
) -> PrefixSearch: ...
def _parse_text_records(
    data: bytes, separator: str
) -> tuple[list[int], list[str], list[int | bytes], list[int]]: ...
def _index_sizes(index: PrefixSearch) -> tuple[int, int, int]: ...
def _search_words(text: str) -> list[str]: ...
