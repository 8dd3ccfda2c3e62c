"""Index files: an index image behind a header that says what it is.

    offset  size  field
    0       8     magic, b"\\x89KELNOR\\n"
    8       2     format version, 1 or 2 (u16 little-endian)
    10      2     flags (u16 little-endian), in version 2: 0x0001 the index's
                  terms are folded, 0x0002 its phrases are found from any
                  word (build(word_starts=True)); no other flag is defined
    12      8     image length in bytes (u64 little-endian)
    20      4     CRC-32 of the image (u32 little-endian, as zlib.crc32 gives it)
    24      ...   the image, exactly as PrefixSearch.to_bytes() writes it

In version 2, sections follow the image to the end of the file, each a kind
(u16), a length in bytes (u64) and the CRC-32 of its bytes (u32), all
little-endian, then those bytes; a kind appears at most once:

- kind 1, own counts: each term's exact own count (the sum of its record
  counts, which the image keeps only up to 2^32 - 1), as the extension writes
  them;
- kind 2, spellings (folded indexes only): pairs of a folded term and the
  spelling that suggestions show for it, by folded term, each text in UTF-8
  followed by a zero byte (no term holds U+0000: an index refuses it).

`save` writes version 1 for an index that has neither and no flag (one
restored from a bare image), so the file is what it always was, and version
2 otherwise. An index's words (word starts) are derived from its image again
on loading: the flag is all that is kept of them.

The magic's first byte has its high bit set and its last is a line feed, so a
copy that strips the eighth bit or rewrites line ends shows as such. `load`
checks the magic, the version, the flags, the length against what the file
holds, each section's framing and checksum, and the image's checksum, in that
order, before it gives out an index, and names the file and what is wrong
when one fails. A file that does not start with
the magic is read as a bare image: what `to_bytes` gave before files had a
header.

A file's image is read into one bytes object and decoded from it: no copy of
it is made on the way (but for an image larger than one read gives). Only a regular file is read by name; a stream
(standard input) is read as far as its header says (a version 2 file to its
end, up to a limit for the sections), or up to a limit for a bare image.
"""

from __future__ import annotations

import itertools
import os
import struct
import threading
import zlib
from typing import BinaryIO, NamedTuple, Union

from _kelnor import PrefixSearch

from kelnor.atomic_file import write_atomically
from kelnor.regular_file import NotRegularFileError, open_regular

MAGIC = b"\x89KELNOR\n"
FORMAT_VERSION = 2
# The version of a file without sections, which every kelnor reads.
PLAIN_VERSION = 1
FOLDED = 0x0001
WORD_STARTS = 0x0002
# The flags each version knows.
KNOWN_FLAGS = {PLAIN_VERSION: 0, FORMAT_VERSION: FOLDED | WORD_STARTS}
_HEADER = struct.Struct("<8sHHQI")
HEADER_SIZE = _HEADER.size
_SECTION = struct.Struct("<HQI")
OWN_COUNTS = 1
SPELLINGS = 2
_SECTION_NAMES = {OWN_COUNTS: "own counts", SPELLINGS: "spellings"}
# What file_info reads of a bare image at a time to checksum it.
_CHUNK = 1 << 20
# The most that the first read of a stream asks for (see _read_up_to).
_FIRST_READ = 64 << 20
# The longest bare image that load_stream reads: a stream has no length to
# check before it is read, and a bare image no header to give one.
PIPED_BARE_IMAGE_LIMIT = 1 << 30
# Likewise the most that load_stream reads of the sections after an image:
# they run to the end of the stream.
PIPED_SECTIONS_LIMIT = 1 << 30

PathArgument = Union[str, "os.PathLike[str]"]


class IndexFileError(ValueError):
    """A file that is not a sound index file or image; the message names the file."""


class IndexFileInfo(NamedTuple):
    """What an index file's header says (for a bare image, version 0 and its computed checksum)."""

    format_version: int
    flags: int
    image_length: int
    checksum: str  # the image's CRC-32, as 8 lower-case hex digits


class _Extras(NamedTuple):
    """What an index holds beside its image, as PrefixSearch._restore takes it."""

    own_counts: bytes | None
    spellings: dict[str, str] | None


def save(index: PrefixSearch, path: PathArgument) -> int:
    """Writes `index` to `path` as an index file, atomically (see atomic_file), and
    returns the file's length. Raises OSError when the write fails."""
    image = index.to_bytes()
    own_counts, spellings = index._own_counts(), index._spellings()
    sections = b""
    if own_counts is not None:
        sections += _section(OWN_COUNTS, own_counts)
    if spellings:
        sections += _section(SPELLINGS, _spellings_bytes(spellings))
    flags = (FOLDED if spellings is not None else 0) | (
        WORD_STARTS if index._has_word_starts() else 0
    )
    version = FORMAT_VERSION if sections or flags else PLAIN_VERSION
    header = _HEADER.pack(MAGIC, version, flags, len(image), zlib.crc32(image))
    write_atomically(os.fspath(path), header, image, sections)
    return len(header) + len(image) + len(sections)


def _section(kind: int, content: bytes) -> bytes:
    return _SECTION.pack(kind, len(content), zlib.crc32(content)) + content


def _spellings_bytes(spellings: dict[str, str]) -> bytes:
    fields = itertools.chain.from_iterable(sorted(spellings.items()))
    return "".join(field + "\0" for field in fields).encode()


def _spellings_of(name: str, content: bytes) -> dict[str, str]:
    """The spellings of a section's `content`, checked."""
    try:
        text = content.decode("utf-8")
    except UnicodeDecodeError:
        raise IndexFileError(f"{name} has a damaged spellings section: it is not UTF-8") from None
    fields = text.split("\0")
    # Each text ends in a zero byte: the last field is what follows the last.
    if fields.pop() or len(fields) % 2:
        raise IndexFileError(f"{name} has a damaged spellings section: it ends inside a pair")
    return dict(zip(fields[::2], fields[1::2]))


def load(path: PathArgument) -> PrefixSearch:
    """The index in the index file or bare image at `path`.

    Raises IndexFileError for a file that is neither (a directory, a FIFO or a
    device among them), and OSError when it cannot be read. A file rewritten
    in place while it is read gives the old index, the new one or
    IndexFileError.
    """
    name = os.fspath(path)
    with _open_index(name) as file:
        before = os.fstat(file.fileno())
        start = _read_up_to(file, HEADER_SIZE)
        if not start.startswith(MAGIC):
            # Read again from the beginning, so that the image is one object.
            file.seek(0)
            image = file.read()
            _check_unchanged(name, file, before)
            return _decode_bare(name, start, image)
        info = _header_info(name, start)
        _check_size(name, file, info, before)  # before a long read
        # The image alone, read as one object, and the sections after it. One
        # read gives at most about 2 GiB (Linux's bound on a read): the rest
        # of a larger image is read after it, at the cost of one copy.
        image = file.read(info.image_length)
        if len(image) < info.image_length:
            image += _read_up_to(file, info.image_length - len(image))
        rest = file.read()
        _check_unchanged(name, file, before)
    _check_length(name, info, len(image) + len(rest))
    extras = _extras_of(name, info, rest)
    return _decode_checked(name, info, image, extras)


def load_stream(stream: BinaryIO, name: str) -> PrefixSearch:
    """The index in the index file or bare image that `stream` (standard input,
    say, which may be a pipe or a device) holds, read no further than the
    image that its header gives, or than PIPED_BARE_IMAGE_LIMIT bytes of a
    bare image. Messages call the stream `name`."""
    start = _read_up_to(stream, HEADER_SIZE)
    if not start.startswith(MAGIC):
        image = start + _read_up_to(stream, PIPED_BARE_IMAGE_LIMIT + 1 - len(start))
        if len(image) > PIPED_BARE_IMAGE_LIMIT:
            raise IndexFileError(
                f"{name} holds more than {PIPED_BARE_IMAGE_LIMIT:,} bytes, "
                "the most that a bare image read as a stream may hold"
            )
        return _decode_bare(name, start, image)
    info = _header_info(name, start)
    image = _read_up_to(stream, info.image_length)
    _check_length(name, info, len(image))
    if info.format_version == PLAIN_VERSION:
        if stream.read(1):
            raise IndexFileError(
                f"{name} has bytes after the end of its image of {info.image_length:,} bytes"
            )
        return _decode_checked(name, info, image, _Extras(None, None))
    rest = _read_up_to(stream, PIPED_SECTIONS_LIMIT + 1)
    if len(rest) > PIPED_SECTIONS_LIMIT:
        raise IndexFileError(
            f"{name} holds more than {PIPED_SECTIONS_LIMIT:,} bytes after its image, "
            "the most that the sections of a file read as a stream may hold"
        )
    return _decode_checked(name, info, image, _extras_of(name, info, rest))


def _extras_of(name: str, info: IndexFileInfo, rest: bytes) -> _Extras:
    """What the sections of `rest` (the bytes after the image) hold, each checked."""
    contents: dict[int, bytes] = {}
    at = 0
    while at < len(rest):
        offset = HEADER_SIZE + info.image_length + at
        if len(rest) - at < _SECTION.size:
            raise IndexFileError(
                f"{name} is truncated: a section's header takes {_SECTION.size} bytes, "
                f"the file has {len(rest) - at} after byte {offset:,}"
            )
        kind, length, checksum = _SECTION.unpack_from(rest, at)
        at += _SECTION.size
        if kind not in _SECTION_NAMES:
            raise IndexFileError(
                f"{name} has a section of kind {kind} at byte {offset:,}, "
                "which this kelnor does not know"
            )
        what = _SECTION_NAMES[kind]
        if kind in contents:
            raise IndexFileError(f"{name} has two {what} sections")
        if len(rest) - at < length:
            raise IndexFileError(
                f"{name} is truncated: its {what} section gives {length:,} bytes, "
                f"the file holds {len(rest) - at:,}"
            )
        content = rest[at : at + length]
        at += length
        if zlib.crc32(content) != checksum:
            raise IndexFileError(
                f"{name} is corrupted: its {what} section's CRC-32 is "
                f"{_checksum_text(zlib.crc32(content))}, its header says {_checksum_text(checksum)}"
            )
        contents[kind] = content
    folded = bool(info.flags & FOLDED)
    if SPELLINGS in contents and not folded:
        raise IndexFileError(f"{name} has a spellings section but is not marked folded")
    spellings = _spellings_of(name, contents[SPELLINGS]) if SPELLINGS in contents else {}
    return _Extras(contents.get(OWN_COUNTS), spellings if folded else None)


def _decode_checked(
    name: str, info: IndexFileInfo, image: bytes, extras: _Extras
) -> PrefixSearch:
    """The index of `image` with `extras`, once its checksum is the one of `info`."""
    # The checksum is worked out on another core while the image decodes
    # (both let go of the interpreter lock); decoding is safe on any bytes,
    # and its index is given out only once the checksum holds.
    crc: list[int] = []
    summing = threading.Thread(target=lambda: crc.append(zlib.crc32(image)), daemon=True)
    summing.start()
    try:
        index: PrefixSearch | None = (
            PrefixSearch._restore(image, *extras)
            if info.format_version != PLAIN_VERSION
            else PrefixSearch.from_bytes(image)
        )
        failure = None
    except ValueError as error:
        index, failure = None, error
    summing.join()
    checksum = _checksum_text(crc[0])
    if checksum != info.checksum:
        raise IndexFileError(
            f"{name} is corrupted: its image's CRC-32 is {checksum}, "
            f"the header says {info.checksum}"
        )
    if index is None:
        if not str(failure).startswith("decode error"):
            raise IndexFileError(f"{name} has {failure}") from None
        raise IndexFileError(f"{name} holds an image that does not decode ({failure})") from None
    return _with_flags(name, index, info.flags)


def _with_flags(name: str, index: PrefixSearch, flags: int) -> PrefixSearch:
    """`index`, restored from its image, made again what its header's `flags` say
    it was: what is derived from the image is derived once it is checked."""
    if not flags & WORD_STARTS:
        return index
    try:
        return index._with_word_starts()
    except ValueError as error:
        raise IndexFileError(f"{name} holds an index whose words cannot be derived: {error}") from None


def file_info(path: PathArgument) -> IndexFileInfo:
    """The header of the index file at `path`, checked as `load` checks it but for
    the checksum, which is given as the header has it; for a bare image, format
    version 0, no flags, the file's length and its CRC-32, which this reads the
    whole file to compute. Raises IndexFileError and OSError as `load` does."""
    name = os.fspath(path)
    with _open_index(name) as file:
        before = os.fstat(file.fileno())
        start = _read_up_to(file, HEADER_SIZE)
        if not start.startswith(MAGIC):
            length, checksum = len(start), zlib.crc32(start)
            for chunk in iter(lambda: file.read(_CHUNK), b""):
                length, checksum = length + len(chunk), zlib.crc32(chunk, checksum)
            _check_unchanged(name, file, before)
            return IndexFileInfo(0, 0, length, _checksum_text(checksum))
        info = _header_info(name, start)
        _check_size(name, file, info, before)
    return info


def _open_index(name: str) -> BinaryIO:
    """The regular file `name`, open for reading; IndexFileError for any other kind."""
    try:
        return open_regular(name)
    except NotRegularFileError as error:
        raise IndexFileError(str(error)) from None


def _check_unchanged(name: str, file: BinaryIO, before: os.stat_result) -> None:
    """Refuses what was read of `file` if the file changed while it was read
    (from `before` on): a bare image has no checksum to tell a mix of two."""
    after = os.fstat(file.fileno())
    if (after.st_size, after.st_mtime_ns, after.st_ctime_ns) != (
        before.st_size,
        before.st_mtime_ns,
        before.st_ctime_ns,
    ):
        raise _changed(name)


def _changed(name: str) -> IndexFileError:
    return IndexFileError(f"{name} changed while it was read: read it again")


def _check_size(name: str, file: BinaryIO, info: IndexFileInfo, before: os.stat_result) -> None:
    """Refuses a file whose size when it was opened (`before`) cannot hold
    what its header, read since, gives; as changed if it has changed since:
    its header may be of the content that a writer has put in it meanwhile
    (a file that held less than the header read from it has changed, even
    where its times did not move: they change in steps of a clock tick)."""
    try:
        _check_length(name, info, before.st_size - HEADER_SIZE)
    except IndexFileError:
        if before.st_size < HEADER_SIZE:
            raise _changed(name) from None
        _check_unchanged(name, file, before)
        raise


def _read_up_to(file: BinaryIO, size: int) -> bytes:
    """The next `size` bytes of `file`, fewer only at its end (a pipe may give
    them a few at a time). A read takes room for all it asks for, and `size`
    comes from a header that may lie: the first read asks for at most
    _FIRST_READ bytes, each later one for at most what came before it, so
    that the room taken stays within twice what the file holds."""
    parts: list[bytes] = []
    held = 0
    while held < size and (part := file.read(min(size - held, max(held, _FIRST_READ)))):
        parts.append(part)
        held += len(part)
    return b"".join(parts)


def _checksum_text(checksum: int) -> str:
    return f"{checksum:08x}"


def _header_info(name: str, start: bytes) -> IndexFileInfo:
    """The header that `start` (the file's first bytes, from the magic on) holds,
    if this kelnor can read what follows it."""
    if len(start) < HEADER_SIZE:
        raise IndexFileError(
            f"{name} is truncated: an index file's header takes {HEADER_SIZE} bytes, "
            f"the file has {len(start)}"
        )
    _, version, flags, length, checksum = _HEADER.unpack(start)
    if version not in KNOWN_FLAGS:
        raise IndexFileError(
            f"{name} is in index file format version {version}; "
            f"this kelnor reads versions {PLAIN_VERSION} and {FORMAT_VERSION}"
        )
    if flags & ~KNOWN_FLAGS[version]:
        raise IndexFileError(f"{name} has flags {flags:#06x}, which this kelnor does not know")
    return IndexFileInfo(version, flags, length, _checksum_text(checksum))


def _check_length(name: str, info: IndexFileInfo, held: int) -> None:
    """Refuses a file whose `held` bytes after the header are not the image the
    header gives (and, from version 2 on, sections after it)."""
    if held < info.image_length:
        raise IndexFileError(
            f"{name} is truncated: the header gives an image of {info.image_length:,} bytes, "
            f"the file holds {held:,}"
        )
    if held > info.image_length and info.format_version == PLAIN_VERSION:
        raise IndexFileError(
            f"{name} has {held - info.image_length:,} bytes after the end of its image "
            f"of {info.image_length:,} bytes"
        )


_RECORDS_HINT = " (a records file? `kelnor build` makes an index of one)"


def _looks_like_text(start: bytes) -> bool:
    """Whether the file's first bytes are UTF-8 text, as a records file is."""
    # The header's bytes may end inside a character: try the cuts before it.
    for cut in range(len(start), max(len(start) - 4, 0), -1):
        try:
            text = start[:cut].decode("utf-8")
        except UnicodeDecodeError:
            continue
        return all(c.isprintable() or c in "\t\r\n" for c in text)
    return False


def _decode_bare(name: str, start: bytes, image: bytes) -> PrefixSearch:
    try:
        return PrefixSearch.from_bytes(image)
    except ValueError as error:
        if start[1:7] == MAGIC[1:7]:
            # The magic's other bytes are what a text-mode or 7-bit copy changes.
            raise IndexFileError(
                f"{name} is an index file damaged in transfer: it starts with "
                f"{start[:8]!r} instead of {MAGIC!r} (copied as text?)"
            ) from None
        # The decoder's own words say where the bytes went wrong, which tells a
        # user who gave the wrong file nothing: say what the file is not.
        raise IndexFileError(
            f"{name} is not a kelnor index: it has no index file header and is no index image"
            f"{_RECORDS_HINT if _looks_like_text(start) else ''}"
        ) from error
