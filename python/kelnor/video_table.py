"""The table of video ids of one index: each distinct video gets a position.

An index stores its video ids in one of two forms, 16-byte UUIDs or unsigned
32-bit integers, so every id handed to one table must be of the same kind:
`uuid.UUID` objects and UUID strings (the ASCII forms that `uuid.UUID` reads)
are both UUIDs, `int`s are integers.
"""

from __future__ import annotations

import uuid
from typing import Union

VideoId = Union[uuid.UUID, str, int]

U32_MAX = 2**32 - 1

# (singular, plural) names of the two kinds, for messages.
_Kind = tuple[str, str]
_UUID: _Kind = ("a UUID", "UUIDs")
_INTEGER: _Kind = ("an integer", "integers")


def _kind_and_entry(video_id: VideoId) -> tuple[_Kind, bytes]:
    """The kind of `video_id` and its entry in the index's video table."""
    if isinstance(video_id, uuid.UUID):
        return _UUID, video_id.bytes
    if isinstance(video_id, str):
        # ASCII only: uuid.UUID reads its hex digits with int(), which also
        # takes the non-ASCII digits and spaces of the interpreter's Unicode
        # version; the native builds read none, and every path reads ids alike.
        try:
            if not video_id.isascii():
                raise ValueError(video_id)
            return _UUID, uuid.UUID(video_id).bytes
        except ValueError:
            raise ValueError(
                f"video id {video_id!r} is not a UUID string (give integer ids as int)"
            ) from None
    if isinstance(video_id, int) and not isinstance(video_id, bool):
        if not 0 <= video_id <= U32_MAX:
            raise ValueError(f"integer video id {video_id} is outside 0..{U32_MAX}")
        return _INTEGER, video_id.to_bytes(4, "little")
    raise TypeError(
        f"a video id is a uuid.UUID, a UUID string or an int, not {type(video_id).__name__!r}"
    )


class VideoTable:
    """Positions of videos in order of first appearance, and the table to store."""

    def __init__(self) -> None:
        self._positions: dict[bytes, int] = {}
        self._kind: _Kind | None = None

    def __len__(self) -> int:
        return len(self._positions)

    def position(self, video_id: VideoId) -> int:
        """The position of `video_id`, given the next free one when it is new."""
        kind, entry = _kind_and_entry(video_id)
        if self._kind is None:
            self._kind = kind
        elif kind != self._kind:
            raise ValueError(
                f"video id {video_id!r} is {kind[0]}, but this index's earlier video ids are "
                f"{self._kind[1]}; an index holds one kind of video id"
            )
        return self._positions.setdefault(entry, len(self._positions))

    def entries(self) -> list[bytes]:
        """The video table of from_internal_data_v2: entry k is video k's id."""
        return list(self._positions)
