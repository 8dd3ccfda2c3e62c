"""The video catalogue that a server joins to the video ids it answers with.

A catalogue file (CSV, TSV, JSON Lines or Parquet, told by its name) has one
row per video: its id, its title and optionally a `url`, a `thumbnail` and
any other columns, which are passed through. Ids are keyed as the API writes
video ids, so that a row joins the id the index answers with: an integer id
as its decimal digits (leading zeros dropped), a UUID in lower case
8-4-4-4-12 form (a catalogue may write it in either case, with or without
its hyphens). Any other id can join no video and is refused, as is a file
that cannot be read, lacks the id or title column, repeats an id or has a
row that cannot be read: a `CatalogueError` names the file and the row.

`load_catalogue(source)` reads the whole file each time it is called: a
server that reloads its index calls it again for the catalogue.
"""

from __future__ import annotations

import csv
import datetime
import importlib
import io
import json
import math
import re
import uuid
from collections.abc import Iterator, Mapping
from typing import Any, NamedTuple

from kelnor.cli.user_input import whole_number_in
from kelnor.regular_file import NotRegularFileError, open_regular
from kelnor.video_table import U32_MAX

# The fields that the page reads from a row, under these names whatever the
# columns that hold them are called.
ID, TITLE, URL, THUMBNAIL = "id", "title", "url", "thumbnail"

_FORMATS = {
    ".csv": "csv",
    ".tsv": "tsv",
    ".jsonl": "jsonl",
    ".ndjson": "jsonl",
    ".parquet": "parquet",
}
_UUID_TEXT = re.compile(
    r"[0-9a-f]{8}(-?)[0-9a-f]{4}\1[0-9a-f]{4}\1[0-9a-f]{4}\1[0-9a-f]{12}", re.I | re.ASCII
)

Row = dict[str, Any]


class Table(NamedTuple):
    """A catalogue file's column names (None where only its rows tell them)
    and its rows, each with where it is in the file."""

    columns: list[str] | None
    rows: Iterator[tuple[str, Row]]


class CatalogueError(ValueError):
    """A catalogue that cannot be served; `str()` names the file and, where
    one is at fault, the row."""


class CatalogueSource(NamedTuple):
    """Where a catalogue is, and the names of the columns that hold each
    video's id, title, link and thumbnail."""

    path: str
    id_column: str = ID
    title_column: str = TITLE
    url_column: str = URL
    thumbnail_column: str = THUMBNAIL

    def field_names(self) -> dict[str, str | None]:
        """The field that each mapped column becomes in a row; None for the
        columns a row leaves out: the id (the answer's "id" says it), and a
        column named as a field that another column is given for. Raises
        CatalogueError if two fields are given one column."""
        fields: dict[str, str | None] = {}
        for column, field in zip(self[1:], (ID, TITLE, URL, THUMBNAIL)):
            if column in fields:
                raise CatalogueError(
                    f"the catalogue's column {column!r} is given for both "
                    f"the {fields[column] or ID} and the {field}"
                )
            fields[column] = None if field == ID else field
        for field in (ID, TITLE, URL, THUMBNAIL):
            fields.setdefault(field, None)
        return fields


class Catalogue(NamedTuple):
    """The rows of a catalogue by video id text, without the id itself."""

    source: CatalogueSource
    rows: Mapping[str, Row]

    def joined(self, found: Row) -> Row:
        """`found`, an answer's video with its "id", with the video's row
        under "catalogue" when the catalogue has one."""
        row = self.rows.get(found[ID])
        return found if row is None else {**found, "catalogue": row}


def video_id_text(value: Any) -> str | None:
    """The text the API writes for the video id `value` of a catalogue, or
    None if no video of an index can have it."""
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return str(value) if 0 <= value <= U32_MAX else None
    if isinstance(value, uuid.UUID):
        return str(value)
    if not isinstance(value, str):
        return None
    text = value.strip()
    number = whole_number_in(text, 0, U32_MAX)
    if number is not None:
        return str(number)
    return str(uuid.UUID(text)) if _UUID_TEXT.fullmatch(text) else None


def _format_of(path: str) -> str:
    name = path.lower()
    for suffix, file_format in _FORMATS.items():
        if name.endswith(suffix):
            return file_format
    raise CatalogueError(
        f"cannot tell the format of the catalogue {path}: "
        "name it .csv, .tsv, .jsonl, .ndjson or .parquet"
    )


def _read(path: str) -> bytes:
    try:
        with open_regular(path) as file:
            return file.read()
    except NotRegularFileError as error:
        raise CatalogueError(str(error)) from None
    except OSError as error:
        raise CatalogueError(f"cannot read {path}: {error.strerror}") from None


def _text(data: bytes, path: str) -> str:
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        raise CatalogueError(f"{path}:{line}: not UTF-8 text") from None


def _table(text: str, delimiter: str, path: str) -> Table:
    """A CSV or TSV text, its first line naming the columns; an empty cell is left out."""
    # A TSV file has no quoting; a CSV file's stray quote is refused rather
    # than read into the next rows.
    lines = io.StringIO(text, newline="")
    if delimiter == ",":
        reader = csv.reader(lines, strict=True)
    else:
        reader = csv.reader(lines, delimiter=delimiter, quoting=csv.QUOTE_NONE, strict=True)
    try:
        header = next(reader, [])
    except csv.Error as error:
        raise CatalogueError(f"{path}:{reader.line_num}: {error}") from None
    _check_unique(header, f"{path}:1")

    def rows() -> Iterator[tuple[str, Row]]:
        try:
            for cells in reader:
                where = f"{path}:{reader.line_num}"
                if not cells:
                    continue
                if len(cells) != len(header):
                    raise CatalogueError(
                        f"{where}: {len(cells)} fields where the first line names {len(header)}"
                    )
                yield where, {name: cell for name, cell in zip(header, cells) if cell}
        except csv.Error as error:
            raise CatalogueError(f"{path}:{reader.line_num}: {error}") from None

    return Table(header, rows())


def _check_unique(names: list[str], where: str) -> None:
    seen: set[str] = set()
    for name in names:
        if name in seen:
            raise CatalogueError(f"{where}: the column {name!r} is named twice")
        seen.add(name)


def _refuse_number(text: str) -> Any:
    raise ValueError(f"{text} is not a JSON number")


def _finite_number(text: str) -> float:
    """The JSON number `text`, refused as NaN is where a float cannot hold it
    (1e999): the server's answers could not write it."""
    number = float(text)
    return number if math.isfinite(number) else _refuse_number(text)


def _json_lines(text: str, path: str) -> Iterator[tuple[str, Row]]:
    """The objects of a JSON Lines text, each with where it is; blank lines
    are skipped, and so is a null value. Only a newline ends a line (a
    carriage return before it is JSON's whitespace): a string may hold the
    other characters that str.splitlines() breaks at, U+2028 among them."""
    for number, line in enumerate(text.split("\n"), 1):
        if not line.strip():
            continue
        where = f"{path}:{number}"
        try:
            row = json.loads(line, parse_constant=_refuse_number, parse_float=_finite_number)
        except ValueError as error:
            raise CatalogueError(f"{where}: not JSON ({error})") from None
        except RecursionError:
            raise CatalogueError(f"{where}: JSON nested too deeply to read") from None
        if not isinstance(row, dict):
            raise CatalogueError(f"{where}: a JSON {type(row).__name__}, not an object")
        yield where, {name: value for name, value in row.items() if value is not None}


def _json_value(value: Any) -> Any:
    """A value of a Parquet cell as JSON can show it: a date or time as its
    ISO text, a number JSON has no word for and any other value (a UUID, a
    decimal) as its text."""
    if isinstance(value, (datetime.date, datetime.time)):
        return value.isoformat()
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)
    if isinstance(value, list):
        return [_json_value(item) for item in value]
    if isinstance(value, dict):
        return {str(key): _json_value(item) for key, item in value.items()}
    if value is None or isinstance(value, (str, int, float)):
        return value
    return str(value)


def _parquet(data: bytes, path: str) -> Table:
    try:
        pyarrow = importlib.import_module("pyarrow")
        parquet = importlib.import_module("pyarrow.parquet")
    except ImportError:
        raise CatalogueError(
            f"reading the catalogue {path} needs pyarrow: pip install 'kelnor[arrow]'"
        ) from None
    try:
        table = parquet.read_table(pyarrow.BufferReader(data))
    except pyarrow.ArrowException as error:
        raise CatalogueError(f"{path} is not a readable parquet file ({error})") from None
    names = table.column_names
    _check_unique(names, path)
    columns = [_column_values(pyarrow, table, name, path) for name in names]
    rows = (
        (
            f"{path}: row {number}",
            {name: _json_value(value) for name, value in zip(names, values) if value is not None},
        )
        for number, values in enumerate(zip(*columns))
    )
    return Table(names, rows)


def _column_values(pyarrow: Any, table: Any, name: str, path: str) -> list[Any]:
    """The cells of the column `name` of the Parquet `table` as Python values.
    Converted a column at a time so that a refusal names the column: Python
    cannot hold every value Arrow can (a date past the year 9999)."""
    try:
        values: list[Any] = table.column(name).to_pylist()
    except (pyarrow.ArrowException, ValueError, ArithmeticError) as error:
        raise CatalogueError(f"{path}: the column {name!r} cannot be read ({error})") from None
    return values


def _read_table(source: CatalogueSource) -> Table:
    file_format = _format_of(source.path)
    data = _read(source.path)
    if file_format == "parquet":
        return _parquet(data, source.path)
    text = _text(data, source.path)
    if file_format == "jsonl":
        return Table(None, _json_lines(text, source.path))
    return _table(text, "," if file_format == "csv" else "\t", source.path)


def _page_text(row: Row, field: str, where: str) -> None:
    """Refuses a title, link or thumbnail of `row` that is not text."""
    value = row.get(field)
    if value is not None and not isinstance(value, str):
        raise CatalogueError(
            f"{where}: the {field} is {json.dumps(value, ensure_ascii=False)}, not text"
        )


def load_catalogue(source: CatalogueSource) -> Catalogue:
    """The catalogue at `source`, read whole. Raises CatalogueError."""
    fields = source.field_names()
    table = _read_table(source)
    if table.columns is not None:
        _check_columns(source, table.columns)
    columns: dict[str, None] = {}
    rows: dict[str, Row] = {}
    first_seen: dict[str, str] = {}
    for where, cells in table.rows:
        columns.update(dict.fromkeys(cells))
        if source.id_column not in cells:
            raise CatalogueError(f"{where}: no video id")
        video = video_id_text(cells[source.id_column])
        if video is None:
            raise CatalogueError(
                f"{where}: the video id {json.dumps(cells[source.id_column], ensure_ascii=False)} is neither a "
                f"whole number from 0 to {U32_MAX} nor a UUID"
            )
        if video in first_seen:
            raise CatalogueError(
                f"{where}: video {video} is in the catalogue already, at {first_seen[video]}"
            )
        row: Row = {}
        for name, value in cells.items():
            field = fields.get(name, name)
            if field is not None:
                row[field] = value
        for field in (TITLE, URL, THUMBNAIL):
            _page_text(row, field, where)
        first_seen[video] = where
        rows[video] = row
    if table.columns is None:  # JSON Lines: the columns of its objects together
        _check_columns(source, list(columns))
    return Catalogue(source, rows)


def _check_columns(source: CatalogueSource, columns: list[str]) -> None:
    """Refuses a catalogue without its id or title column."""
    for column, option in (
        (source.id_column, "--videos-id-column"),
        (source.title_column, "--videos-title-column"),
    ):
        if column not in columns:
            named = ", ".join(map(repr, columns)) if columns else "none"
            raise CatalogueError(
                f"the catalogue {source.path} has no column {column!r} (its columns: {named}); "
                f"{option} names the column to use"
            )
