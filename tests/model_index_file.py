"""The index file format written out by hand: a header of fixed fields, then the image."""

from __future__ import annotations

import zlib

from model_image import varint

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


def section(kind: int, content: bytes, length: int = -1, checksum: int = -1) -> bytes:
    """A section of a version 2 file: kind, length and CRC-32, then `content`."""
    fields = [
        (kind, 2),
        (len(content) if length < 0 else length, 8),
        (zlib.crc32(content) if checksum < 0 else checksum, 4),
    ]
    return b"".join(value.to_bytes(size, "little") for value, size in fields) + content


def own_counts_section(counts: list[int]) -> bytes:
    """The own counts section of terms whose own counts are `counts`, in node order."""
    return section(1, b"".join(varint(count) for count in counts))


def spellings_section(spellings: dict[str, str]) -> bytes:
    """The spellings section of `spellings`, by folded term."""
    return section(2, b"".join(f"{key}\0{spellings[key]}\0".encode() for key in sorted(spellings)))


def file_v2(image: bytes, sections: bytes, flags: int = 0) -> bytes:
    """The content of a version 2 index file of `image` and `sections`."""
    return header(image, version=2, flags=flags) + image + sections
