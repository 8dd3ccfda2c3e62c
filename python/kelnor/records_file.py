"""An index built from a records file by the extension's native path.

TSV and CSV files (the format by the file's extension, or given) are parsed
by the extension: term, video id, count on each line, a video id of decimal
digits an integer id and anything else a UUID; blank lines are skipped, and
so is a first line naming the columns; a bad line stops the build with its
line number. A gzip-compressed file (or standard input) is read through
gzip, whatever its name. With pyarrow installed, Parquet and Arrow IPC files
are read as tables with the columns `term`, `video` and `count`.

Folding the terms (kelnor.fold) is Python's work: with it, the records go
through the record path after they are parsed, one by one.
"""

from __future__ import annotations

import gzip
import importlib
import sys
import uuid
import zlib
from collections.abc import Iterable
from typing import Any

from _kelnor import (
    PrefixSearch,
    _build_from_arrow_stream,
    _build_from_text_records,
    _parse_text_records,
)

from kelnor.builder import IndexBuilder, Record
from kelnor.command_error import CommandError
from kelnor.progress import Progress
from kelnor.text_lines import STDIN, shown_name

FORMATS = ("tsv", "csv", "parquet", "arrow")
SEPARATORS = {"tsv": "\t", "csv": ","}
_SUFFIXES = {".tsv": "tsv", ".csv": "csv", ".parquet": "parquet", ".arrow": "arrow",
             ".arrows": "arrow", ".feather": "arrow", ".ipc": "arrow"}
_GZIP_MAGIC = b"\x1f\x8b"
_READ_SIZE = 1 << 20


def format_of(path: str) -> str:
    """The format that the name of `path` says (a ".gz" after it aside); TSV by default."""
    name = path.lower()
    if name.endswith(".gz"):
        name = name[: -len(".gz")]
    for suffix, file_format in _SUFFIXES.items():
        if name.endswith(suffix):
            return file_format
    return "tsv"


def _read(path: str, progress: Progress | None) -> bytes:
    name = shown_name(path)
    try:
        if path == STDIN:
            if sys.stdin is None:
                raise CommandError("cannot read standard input: it is closed")
            data = sys.stdin.buffer.read()
        else:
            parts = []
            with open(path, "rb") as file:
                while part := file.read(_READ_SIZE):
                    parts.append(part)
                    if progress:
                        progress.advance(len(part))
            data = b"".join(parts)
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror}") from None
    if not data.startswith(_GZIP_MAGIC):
        return data
    try:
        return gzip.decompress(data)
    except (OSError, EOFError, zlib.error) as error:
        raise CommandError(f"cannot read {name}: a damaged gzip file ({error})") from None


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
    records = zip(*(table.column(column).to_pylist() for column in ("term", "video", "count")))
    return _folded_build(((f": row {row}", record) for row, record in enumerate(records)),
                         video_top_n, name)


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
    data = _read(path, progress)
    try:
        if file_format in SEPARATORS:
            if fold:
                return _folded_text_records(data, SEPARATORS[file_format], video_top_n, name)
            return _build_from_text_records(data, SEPARATORS[file_format], video_top_n)
        table = _table(data, file_format, name)
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
