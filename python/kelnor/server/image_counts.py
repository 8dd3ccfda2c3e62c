"""How many nodes, terms and videos an index holds, read from its image.

The extension has no accessor for these counts, so the server reads them once
at start from the image that `from_bytes` has just accepted. The image is a
run of fields without offsets: node_shifts, child_labels, child_transitions,
payloads, video_uuids, video_int_ids, id_mode, is_terminal, each a count and
its entries. Finding the video tables means skipping everything before them,
so the skipping is done by regular expressions, which run in C, a chunk of
payloads at a time; only a payload whose list of videos is longer than a
one-byte count can say (more than 250) is taken apart in Python. That reads
about 20 MB of image in a fraction of a second.
"""

from __future__ import annotations

import functools
import re
from typing import NamedTuple

# A variable-length integer: one byte up to 250, else a marker and 2, 4 or 8 bytes.
_VARINT = rb"(?:[\x00-\xfa]|\xfb..|\xfc....|\xfd........)"
_MARKER_WIDTHS = {0xFB: 2, 0xFC: 4, 0xFD: 8}
# A character as UTF-8, as the image spells each label.
_CHARACTER = rb"(?:[\x00-\x7f]|[\xc0-\xdf].|[\xe0-\xef]..|[\xf0-\xf7]...)"
_ONE_BYTE_COUNT_MAX = 250
# A list of varints whose count fits one byte: the count, then that many varints.
_SHORT_LIST = b"(?:" + b"|".join(
    re.escape(bytes([count])) + _VARINT + b"{%d}" % count
    for count in range(_ONE_BYTE_COUNT_MAX + 1)
) + b")"
# An absent payload, or a present one (total, videos, counts) with short lists.
_SHORT_PAYLOAD = rb"(?:\x00|\x01" + _VARINT + _SHORT_LIST + _SHORT_LIST + b")"
_CHUNK = 256
# The id_mode of an index whose videos have integer ids rather than UUIDs.
_INTEGER_IDS = 1


class IndexCounts(NamedTuple):
    nodes: int
    terms: int
    videos: int


@functools.lru_cache(maxsize=None)
def _repeated(unit: bytes, count: int) -> re.Pattern[bytes]:
    return re.compile(unit + b"{%d}" % count, re.DOTALL)


class _Reader:
    def __init__(self, image: bytes) -> None:
        self.image = image
        self.position = 0

    def varint(self) -> int:
        marker = self.image[self.position]
        width = _MARKER_WIDTHS.get(marker, 0)
        start = self.position + 1
        self.position = start + width
        if width == 0:
            return marker
        return int.from_bytes(self.image[start : self.position], "little")

    def skip(self, unit: bytes, count: int) -> None:
        """Passes `count` entries that `unit` matches."""
        match = _repeated(unit, count).match(self.image, self.position)
        if match is None:
            raise ValueError(f"the image has no {count} entries at byte {self.position}")
        self.position = match.end()

    def skip_payloads(self, count: int) -> None:
        left = count
        while left:
            chunk = min(left, _CHUNK)
            match = _repeated(_SHORT_PAYLOAD, chunk).match(self.image, self.position)
            if match is not None:
                self.position = match.end()
                left -= chunk
                continue
            for _ in range(chunk):
                self.skip_payload()
            left -= chunk

    def skip_payload(self) -> None:
        tag = self.image[self.position]
        self.position += 1
        if tag:
            self.varint()
            self.skip(_VARINT, self.varint())
            self.skip(_VARINT, self.varint())


def index_counts(image: bytes) -> IndexCounts:
    """The counts of the index whose image is `image`, which must be an image
    that `PrefixSearch.from_bytes` accepted.

    Raises ValueError for bytes that do not have the image's layout."""
    reader = _Reader(image)
    try:
        nodes = reader.varint()
        reader.skip(_VARINT, nodes)
        reader.skip(_CHARACTER, reader.varint())
        reader.skip(_VARINT, reader.varint())
        reader.skip_payloads(reader.varint())
        uuids = reader.varint()
        reader.position += 16 * uuids
        integers = reader.varint()
        reader.skip(_VARINT, integers)
        uses_integers = reader.varint() == _INTEGER_IDS
        flags = reader.varint()
    except IndexError:
        raise ValueError("the image ends early") from None
    terminal = image[reader.position : reader.position + flags]
    if len(terminal) != flags:
        raise ValueError("the image ends early")
    return IndexCounts(nodes, terminal.count(1), integers if uses_integers else uuids)
