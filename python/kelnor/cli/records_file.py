"""An index built from a records file by the extension's native path.

TSV and CSV files (the format by the file's extension, or given) are parsed
by the extension: term, video id, count on each line, a video id of decimal
digits an integer id and anything else a UUID; blank lines are skipped, and
so is a first line naming the columns; a bad line stops the build with its
line number. A gzip-compressed file (or standard input) is read through
gzip, whatever its name. A TSV or CSV file is read as a stream, a piece at a
time: the build holds its distinct terms, videos and (term, video) pairs,
not the file. With pyarrow installed, Parquet and Arrow IPC files are read
whole, as tables with the columns `term`, `video` and `count`.

Folding the terms (kelnor.fold) is Python's work: with it, the records go
through the record path after they are parsed, one by one.
"""

from __future__ import annotations

import gzip
import importlib
import sys
import uuid
import zlib
from collections.abc import Iterable, Iterator
from typing import Any, BinaryIO

from _kelnor import (
    PrefixSearch,
    _build_from_arrow_stream,
    _build_from_text_records,
    _parse_text_records,
)

from kelnor.builder import IndexBuilder, Record
from kelnor.cli.user_input import CommandError
from kelnor.cli.progress import Progress
from kelnor.regular_file import NotRegularFileError, open_regular
from kelnor.cli.text_lines import STDIN, shown_name

FORMATS = ("tsv", "csv", "parquet", "arrow")
SEPARATORS = {"tsv": "\t", "csv": ","}
_SUFFIXES = {".tsv": "tsv", ".csv": "csv", ".parquet": "parquet", ".arrow": "arrow",
             ".arrows": "arrow", ".feather": "arrow", ".ipc": "arrow"}
_GZIP_MAGIC = b"\x1f\x8b"
_READ_SIZE = 1 << 20
# The longest line of a records file, its line end included (text_records.hpp).
MAX_LINE_BYTES = 1 << 20


def format_of(path: str) -> str:
    """The format that the name of `path` says (a ".gz" after it aside); TSV by default."""
    name = path.lower()
    if name.endswith(".gz"):
        name = name[: -len(".gz")]
    for suffix, file_format in _SUFFIXES.items():
        if name.endswith(suffix):
            return file_format
    return "tsv"


def _starts_with_gzip(file: BinaryIO) -> bool:
    """Whether `file` holds gzip data from where it stands, which it is left at."""
    peek = getattr(file, "peek", None)
    if peek is not None:  # standard input, which may be a pipe
        head: bytes = peek(len(_GZIP_MAGIC))[: len(_GZIP_MAGIC)]
        return head == _GZIP_MAGIC
    position = file.tell()
    head = file.read(len(_GZIP_MAGIC))
    file.seek(position)
    return head == _GZIP_MAGIC


def _pieces(file: BinaryIO, name: str, progress: Progress | None) -> Iterator[bytes]:
    """The content of `file` a piece at a time, decompressed when it is gzip data."""
    done = 0
    try:
        # Looking for gzip's magic is the file's first read, which may fail too.
        source = gzip.GzipFile(fileobj=file, mode="rb") if _starts_with_gzip(file) else file
        while piece := source.read(_READ_SIZE):
            if progress:
                position = file.tell()
                progress.advance(position - done)
                done = position
            yield piece
    except (EOFError, zlib.error, gzip.BadGzipFile) as error:
        raise CommandError(f"cannot read {name}: a damaged gzip file ({error})") from None
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror}") from None


def _read_pieces(path: str, progress: Progress | None) -> Iterator[bytes]:
    """The content of the records file `path` (standard input when it is "-"),
    decompressed when it is gzip data, a piece at a time. A path that names
    no regular file (a directory, a FIFO, a device) is refused."""
    name = shown_name(path)
    if path == STDIN:
        if sys.stdin is None:
            raise CommandError("cannot read standard input: it is closed")
        yield from _pieces(sys.stdin.buffer, name, None)
        return
    try:
        file = open_regular(path)
    except NotRegularFileError as error:
        raise CommandError(f"{error} (give - to read standard input)") from None
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror}") from None
    with file:
        yield from _pieces(file, name, progress)


def _cut_at_a_long_line(pieces: Iterable[bytes]) -> Iterator[bytes]:
    """`pieces`, ending with the first MAX_LINE_BYTES + 1 bytes of the first
    line longer than MAX_LINE_BYTES (its line end included), whose parse
    then refuses it (or a line before it) as the streamed build does: a
    build that parses its file whole would otherwise hold all of an input
    that never ends a line (`kelnor build --fold - < /dev/zero`)."""
    held = 0  # the bytes of the line being read, so far
    for piece in pieces:
        start = 0
        while True:
            end = piece.find(b"\n", start)
            stop = len(piece) if end < 0 else end + 1
            if held + stop - start > MAX_LINE_BYTES:
                yield piece[: start + MAX_LINE_BYTES + 1 - held]
                return
            if end < 0:
                held += stop - start
                break
            held = 0
            # No line after this one that ends in the piece is longer than it.
            start = stop if len(piece) > MAX_LINE_BYTES else piece.rfind(b"\n") + 1
        yield piece


def _table(data: bytes, file_format: str, name: str) -> Any:
    """The pyarrow table of a Parquet or Arrow IPC file (file or stream form)."""
    try:
        pyarrow = importlib.import_module("pyarrow")
        reader = importlib.import_module("pyarrow.parquet" if file_format == "parquet" else "pyarrow.ipc")
    except ImportError:
        raise CommandError(
            f"reading {file_format} files needs pyarrow: pip install 'kelnor[arrow]'"
        ) from None
    source = pyarrow.BufferReader(data)
    try:
        if file_format == "parquet":
            return reader.read_table(source)
        try:
            return reader.open_file(source).read_all()
        except pyarrow.ArrowInvalid:
            return reader.open_stream(pyarrow.BufferReader(data)).read_all()
    except pyarrow.ArrowException as error:
        raise CommandError(f"{name} is not a readable {file_format} file ({error})") from None


def _folded_build(
    numbered: Iterable[tuple[str, Record]], video_top_n: int, name: str
) -> PrefixSearch:
    """The record path, folding, over records numbered as a refusal names them."""
    builder = IndexBuilder(fold=True)
    for where, (term, video, count) in numbered:
        try:
            builder.add(term, video, count)
        except (TypeError, ValueError) as error:
            raise CommandError(f"{name}{where}: {error}") from None
    return builder.build(video_top_n)


def _folded_text_records(data: bytes, separator: str, video_top_n: int, name: str) -> PrefixSearch:
    lines, terms, videos, counts = _parse_text_records(data, separator)
    ids = (video if isinstance(video, int) else uuid.UUID(bytes=video) for video in videos)
    numbered = ((f":{line}", record) for line, record in zip(lines, zip(terms, ids, counts)))
    return _folded_build(numbered, video_top_n, name)


def _folded_table(table: Any, video_top_n: int, name: str) -> PrefixSearch:
    terms, videos, counts = (_column(table, column) for column in ("term", "video", "count"))
    # A 16-byte binary id is a UUID's bytes, as the native build reads it.
    ids = (uuid.UUID(bytes=v) if isinstance(v, bytes) and len(v) == 16 else v for v in videos)
    records = zip(terms, ids, counts)
    return _folded_build(((f": row {row}", record) for row, record in enumerate(records)),
                         video_top_n, name)


def _column(table: Any, name: str) -> list[Any]:
    """The values of the column `name` of a pyarrow `table`, refused as the
    native build refuses a table without it or with two of it."""
    found = table.column_names.count(name)
    if found > 1:
        raise ValueError(f"the table has {found} columns named '{name}'; name the one to read")
    if not found:
        listed = ", ".join(f"'{column}'" for column in table.column_names) or "none"
        raise ValueError(f"the table has no column '{name}' (its columns: {listed})")
    values: list[Any] = table.column(name).to_pylist()
    return values


def build_records_file(
    path: str,
    file_format: str,
    video_top_n: int,
    fold: bool = False,
    progress: Progress | None = None,
) -> PrefixSearch:
    """The index of the records of `path` (standard input when it is "-"),
    with `fold` of their folded terms."""
    name = shown_name(path)
    pieces = _read_pieces(path, progress)
    try:
        if file_format in SEPARATORS and not fold:
            return _build_from_text_records(pieces, SEPARATORS[file_format], video_top_n)
        if file_format in SEPARATORS:
            data = b"".join(_cut_at_a_long_line(pieces))
            return _folded_text_records(data, SEPARATORS[file_format], video_top_n, name)
        table = _table(b"".join(pieces), file_format, name)
        if fold:
            return _folded_table(table, video_top_n, name)
        return _build_from_arrow_stream(
            table.__arrow_c_stream__(), video_top_n, "term", "video", "count"
        )
    except ValueError as error:
        # A records file's refusal starts with its line number, a table's with
        # its row: both follow the file's name.
        separator = ":" if file_format in SEPARATORS else ": "
        raise CommandError(f"{name}{separator}{error}") from None
