"""`kelnor serve --videos`: reading a video catalogue in each format, its
refusals, and the API's answers joined with its rows, through Starlette's
test client and a real server process."""

from __future__ import annotations

import csv
import datetime
import json
import math
import sys
import uuid
from pathlib import Path

import pytest

pytest.importorskip("starlette", reason="the serve extra is not installed")
pytest.importorskip("httpx", reason="Starlette's test client needs httpx")

from conftest import pypy_differs  # noqa: E402
from serve_process import get_json, running_server  # noqa: E402
from starlette.testclient import TestClient  # noqa: E402
from test_cli import run  # noqa: E402

import kelnor  # noqa: E402
from kelnor.server import (  # noqa: E402
    CatalogueError,
    CatalogueSource,
    create_app,
    index_info,
    load_catalogue,
)

# Rows as a spreadsheet holds them: an id with leading zeros, a link, a
# thumbnail, a column passed through and an empty cell.
HEADER = ["id", "title", "url", "thumbnail", "year"]
CELLS = [
    ["007", "Harry at school", "https://example.org/7", "https://example.org/7.jpg", "2001"],
    ["8", "Hares, running", "", "", "1999"],
]
ROWS = {
    "7": {"title": "Harry at school", "url": "https://example.org/7",
          "thumbnail": "https://example.org/7.jpg", "year": "2001"},
    "8": {"title": "Hares, running", "year": "1999"},
}  # fmt: skip


def write_table(path: Path, header: list[str], cells: list[list[str]]) -> Path:
    """`header` and `cells` in the format that the name of `path` says."""
    if path.suffix in (".csv", ".tsv"):
        with open(path, "w", newline="", encoding="utf-8") as file:
            writer = csv.writer(file, delimiter="," if path.suffix == ".csv" else "\t")
            writer.writerows([header, *cells])
    elif path.suffix == ".jsonl":
        lines = (json.dumps({k: v for k, v in zip(header, row) if v}) for row in cells)
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    else:
        pa = pytest.importorskip("pyarrow")
        parquet = pytest.importorskip("pyarrow.parquet")
        columns = {name: [row[i] or None for row in cells] for i, name in enumerate(header)}
        parquet.write_table(pa.table(columns), path)
    return path


@pytest.mark.parametrize("suffix", [".csv", ".tsv", ".jsonl", ".parquet"])
def test_each_format_reads_the_same_rows(tmp_path, suffix):
    path = write_table(tmp_path / f"videos{suffix}", HEADER, CELLS)
    assert load_catalogue(CatalogueSource(str(path))).rows == ROWS


@pytest.mark.parametrize("suffix", [".csv", ".tsv", ".jsonl", ".parquet"])
def test_a_title_keeps_the_characters_that_break_lines_elsewhere(tmp_path, suffix):
    title = "Harry\u2028at\u2029school\x85\x0b\x0c\x1c, again"
    cells = [["7", title, "", "", ""], ["8", "Hares", "", "", ""]]
    path = write_table(tmp_path / f"videos{suffix}", HEADER, cells)
    if suffix == ".jsonl":  # the characters unescaped, the lines ended as on Windows
        rows = (json.dumps({"id": video, "title": title}, ensure_ascii=False) for video, title, *_ in cells)
        path.write_text("\r\n".join(rows), encoding="utf-8")
    rows = load_catalogue(CatalogueSource(str(path))).rows
    assert rows == {"7": {"title": title}, "8": {"title": "Hares"}}


def test_a_parquet_files_typed_cells_are_served_as_json(tmp_path):
    pa = pytest.importorskip("pyarrow")
    parquet = pytest.importorskip("pyarrow.parquet")
    columns = {
        "id": pa.array([7, 8], pa.int64()),
        "title": ["Harry", "Hares"],
        "released": [datetime.date(2001, 11, 4), None],
        "rating": [math.nan, 4.5],
        "tags": [["magic"], []],
    }
    parquet.write_table(pa.table(columns), tmp_path / "videos.parquet")
    rows = load_catalogue(CatalogueSource(str(tmp_path / "videos.parquet"))).rows
    assert rows == {
        "7": {"title": "Harry", "released": "2001-11-04", "rating": "nan", "tags": ["magic"]},
        "8": {"title": "Hares", "rating": 4.5, "tags": []},
    }
    json.dumps(rows, allow_nan=False)  # as the server's answers are written


def test_mapped_columns_become_the_fields_the_page_reads(tmp_path):
    # Columns named as the fields that others are given for are left out.
    header = ["video", "name", "link", "poster", "year", "id", "title", "url", "thumbnail"]
    cells = [row + ["0", "no", "no", "no"] for row in CELLS]
    path = write_table(tmp_path / "videos.csv", header, cells)
    source = CatalogueSource(str(path), "video", "name", "link", "poster")
    assert load_catalogue(source).rows == ROWS


# Ids as catalogues write them, each keyed as the API writes the video's id.
UUID = uuid.UUID("0123abcd-4567-89ef-0123-456789abcdef")


@pytest.mark.parametrize(
    "written, video",
    [
        ("0042", 42),
        (" 42 ", 42),
        ("4294967295", 4294967295),
        (str(UUID).upper(), UUID),
        (UUID.hex, UUID),
        (f" {UUID} ", UUID),
    ],
)
def test_a_catalogue_id_joins_the_id_the_api_answers_with(tmp_path, written, video):
    index = kelnor.build([("word", video, 1)])
    path = write_table(tmp_path / "videos.tsv", ["id", "title"], [[written, "the one"]])
    client = TestClient(create_app(index, INFO, load_catalogue(CatalogueSource(str(path)))))
    found = client.get("/videos?q=word").json()["videos"]
    assert [v.get("catalogue") for v in found] == [{"title": "the one"}]


def refusal(tmp_path: Path, name: str, content: bytes | None, **columns: str) -> str:
    """The message that loading the catalogue `name` of `content` (a
    directory when None) is refused with, the folder shown as DIR."""
    path = tmp_path / name
    if content is None:
        path.mkdir()
    else:
        path.write_bytes(content)
    with pytest.raises(CatalogueError) as refused:
        load_catalogue(CatalogueSource(str(path), **columns))
    return str(refused.value).replace(str(tmp_path), "DIR")


# One case per refusal: the file, its content (None: a directory), the
# columns given, and the message.
REFUSALS = [
    ("v.xlsx", b"", {}, "cannot tell the format of the catalogue DIR/v.xlsx: "
     "name it .csv, .tsv, .jsonl, .ndjson or .parquet"),
    ("v.csv", None, {}, "DIR/v.csv is a directory, not a regular file"),
    ("v.csv", b"video,title\n1,a\n", {}, "the catalogue DIR/v.csv has no column 'id' "
     "(its columns: 'video', 'title'); --videos-id-column names the column to use"),
    ("v.jsonl", b'{"id": 1}\n', {}, "the catalogue DIR/v.jsonl has no column 'title' "
     "(its columns: 'id'); --videos-title-column names the column to use"),
    ("v.csv", b"id,title,id\n", {}, "DIR/v.csv:1: the column 'id' is named twice"),
    ("v.csv", b"id,title\n1,a\n", {"thumbnail_column": "title"},
     "the catalogue's column 'title' is given for both the title and the thumbnail"),
    ("v.csv", b"id,title\n1,a\n\n01,b\n", {},
     "DIR/v.csv:4: video 1 is in the catalogue already, at DIR/v.csv:2"),
    ("v.csv", b"id,title\n1,a,x\n", {}, "DIR/v.csv:2: 3 fields where the first line names 2"),
    pytest.param(
        "v.csv", b'id,title\n1,"a"b\n', {}, "DIR/v.csv:2: ',' expected after '\"'",
        marks=pypy_differs("its csv module words its errors otherwise"),
    ),
    ("v.tsv", b"id\ttitle\n1\t\xff\n", {}, "DIR/v.tsv:2: not UTF-8 text"),
    ("v.csv", b"id,title\n,a\n", {}, "DIR/v.csv:2: no video id"),
    ("v.csv", b"id,title\n\xc3\xa9,a\n", {}, 'DIR/v.csv:2: the video id "\xe9" is neither '
     "a whole number from 0 to 4294967295 nor a UUID"),
    ("v.jsonl", b'{"id": 4294967296, "title": "a"}', {}, "DIR/v.jsonl:1: the video id "
     "4294967296 is neither a whole number from 0 to 4294967295 nor a UUID"),
    ("v.jsonl", b'\n{"id": 1, "title": 2}', {}, "DIR/v.jsonl:2: the title is 2, not text"),
    ("v.jsonl", b'{"id": 1, "title": "a", "score": NaN}', {},
     "DIR/v.jsonl:1: not JSON (NaN is not a JSON number)"),
    ("v.jsonl", b'{"id": 1, "title": "a", "score": 1e999}', {},
     "DIR/v.jsonl:1: not JSON (1e999 is not a JSON number)"),
    pytest.param(
        "v.jsonl", b'{"id": 1, "title": "a", "x": ' + b"[" * 100_000 + b"]" * 100_000 + b"}", {},
        "DIR/v.jsonl:1: JSON nested too deeply to read", id="JSON 100,000 deep",
    ),
    ("v.jsonl", b"[1]", {}, "DIR/v.jsonl:1: a JSON list, not an object"),
]  # fmt: skip


@pytest.mark.parametrize("name, content, columns, message", REFUSALS)
def test_a_bad_catalogue_is_refused_naming_the_file_and_row(
    tmp_path, name, content, columns, message
):
    assert refusal(tmp_path, name, content, **columns) == message


def test_a_missing_catalogue_is_refused(tmp_path):
    with pytest.raises(CatalogueError) as refused:
        load_catalogue(CatalogueSource(str(tmp_path / "v.csv")))
    assert str(refused.value) == f"cannot read {tmp_path}/v.csv: No such file or directory"


def test_an_unreadable_parquet_file_is_refused(tmp_path):
    pytest.importorskip("pyarrow")
    message = refusal(tmp_path, "v.parquet", b"not parquet")
    assert message.startswith("DIR/v.parquet is not a readable parquet file (")


@pytest.mark.parametrize(
    "arrow_type, value",
    [(lambda pa: pa.timestamp("us"), 253_402_300_800 * 10**6), (lambda pa: pa.date32(), 2**31 - 1)],
    ids=["timestamp in the year 10000", "date32"],
)
def test_a_parquet_value_that_python_cannot_hold_is_refused(tmp_path, arrow_type, value):
    pa = pytest.importorskip("pyarrow")
    parquet = pytest.importorskip("pyarrow.parquet")
    written = pa.BufferOutputStream()
    columns = {"id": [7], "title": ["Harry"], "released": pa.array([value], arrow_type(pa))}
    parquet.write_table(pa.table(columns), written)
    message = refusal(tmp_path, "v.parquet", written.getvalue().to_pybytes())
    # The reason is the converter's own words.
    assert message.startswith("DIR/v.parquet: the column 'released' cannot be read (")


def test_a_parquet_file_without_pyarrow_says_what_to_install(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    message = "reading the catalogue DIR/v.parquet needs pyarrow: pip install 'kelnor[arrow]'"
    assert refusal(tmp_path, "v.parquet", b"") == message


# ---------------------------------------------------------------- the API

RECORDS = [("harry", 7, 3), ("hare", 8, 6), ("hare", 9, 2)]
INDEX = kelnor.build(RECORDS)
INFO = index_info("words.bin", INDEX, "0123abcd")


@pytest.fixture(scope="module")
def catalogue_path(tmp_path_factory) -> Path:
    return write_table(tmp_path_factory.mktemp("catalogue") / "videos.csv", HEADER, CELLS)


@pytest.mark.parametrize("path, schema", [("/videos", "Videos"), ("/search", "SearchedVideos")])
def test_each_video_answered_carries_its_row_as_described(catalogue_path, path, schema):
    catalogue = load_catalogue(CatalogueSource(str(catalogue_path)))
    client = TestClient(create_app(INDEX, INFO, catalogue))
    joined = client.get(f"{path}?q=hare").json()["videos"]
    bare = TestClient(create_app(INDEX, INFO)).get(f"{path}?q=hare").json()["videos"]
    assert {"8", "9"} <= {v["id"] for v in bare}  # in the catalogue, and not
    assert joined == [{**v, "catalogue": ROWS[v["id"]]} if v["id"] in ROWS else v for v in bare]
    described = client.get("/openapi.json").json()["components"]["schemas"][schema]
    item = described["properties"]["videos"]["items"]
    assert all(set(item["required"]) <= set(v) <= set(item["properties"]) for v in joined)


def test_a_server_process_serves_the_catalogue(tmp_path, catalogue_path):
    kelnor.save(INDEX, tmp_path / "words.bin")
    with running_server(str(tmp_path / "words.bin"), "--videos", str(catalogue_path)) as (base, _):
        found = get_json(base + "/search?q=hare")["videos"]
    shown = [(v["id"], v.get("catalogue")) for v in found]
    assert shown == [("8", ROWS["8"]), ("9", None), ("7", ROWS["7"])]


def test_serve_refuses_a_bad_catalogue_in_one_line(capsys, tmp_path):
    kelnor.save(INDEX, tmp_path / "words.bin")
    catalogue = tmp_path / "videos.csv"
    catalogue.write_text("id,title\n7,a\n7,b\n", encoding="utf-8")
    status, _, err = run(capsys, "serve", tmp_path / "words.bin", "--videos", catalogue)
    message = f"kelnor: {catalogue}:3: video 7 is in the catalogue already, at {catalogue}:2\n"
    assert (status, err) == (1, message)
