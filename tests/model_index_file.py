"""The index file format written out by hand: a header of fixed fields, then the image."""

from __future__ import annotations

import zlib

MAGIC = b"\x89KELNOR\n"


def header(
    image: bytes, version: int = 1, flags: int = 0, length: int = -1, checksum: int = -1
) -> bytes:
    """The 24-byte header of `image`, or of what the fields given say about it."""
    fields = [
        (version, 2),
        (flags, 2),
        (len(image) if length < 0 else length, 8),
        (zlib.crc32(image) if checksum < 0 else checksum, 4),
    ]
    return MAGIC + b"".join(value.to_bytes(size, "little") for value, size in fields)


def file_of(image: bytes) -> bytes:
    """The content of the index file that holds `image`."""
    return header(image) + image
