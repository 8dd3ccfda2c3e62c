"""Records files read as a stream, and the term limit of every build path.

A records file given in pieces of any size builds the index that the whole
file builds, byte for byte, and refuses the same first bad line; a .gz file
is decompressed a piece at a time. A term longer than 65536 bytes of UTF-8
is refused with its row or line by every path, and a line longer than 1 MiB
as soon as it is seen.
"""

from __future__ import annotations

import gzip

import _kelnor
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor
from kelnor.cli import records_file
from kelnor.cli.main import main as kelnor_main
from kelnor.builder import MAX_TERM_BYTES

try:
    import pyarrow as pa
except ImportError:  # no wheels for PyPy: the table paths are left out there
    pa = None

MAX_LINE_BYTES = 1 << 20

LINES = st.lists(
    st.tuples(
        st.sampled_from(["cat", "cart", "été", "dog", "a b", "\u00e9t\u00e9"]),
        st.integers(0, 6),
        st.sampled_from([0, 1, 7, 2**32 - 1]),
    ),
    max_size=30,
)


def tsv(records) -> bytes:
    return "".join(f"{term}\t{video}\t{count}\n" for term, video, count in records).encode()


def pieces_of(data: bytes, cuts: list[int]) -> list[bytes]:
    places = sorted({min(cut, len(data)) for cut in cuts})
    return [data[a:b] for a, b in zip([0] + places, places + [len(data)])]


def outcome(data) -> tuple[str, object]:
    try:
        return "ok", _kelnor._build_from_text_records(data, "\t", 3).to_bytes()
    except ValueError as error:
        return "refused", str(error)


@settings(max_examples=150, deadline=None)
@given(
    LINES,
    st.lists(st.integers(0, 600), max_size=8),
    st.sampled_from([b"", b"\xef\xbb\xbfterm\tvideo\tcount\n", b"\n\n"]),
    st.sampled_from([b"", b"cat\tx\t1\n", b"\xff\t1\t1\n", b"dog\t1", b"dog\t-5\t1\n"]),
)
def test_pieces_of_any_size_build_what_the_whole_file_builds(records, cuts, start, end):
    data = start + tsv(records) + end
    whole = outcome(data)
    assert outcome(pieces_of(data, cuts)) == whole
    assert outcome(iter([bytearray(piece) for piece in pieces_of(data, cuts)])) == whole
    if whole[0] == "ok":
        expected = kelnor.build(records, 3).to_bytes() if records else None
        if expected is not None:
            assert whole[1] == expected


def test_a_line_longer_than_the_limit_is_refused_before_it_ends():
    # Pieces of a line that never ends stop being read at the limit.
    read = []

    def endless():
        yield b"cat\t1\t1\n"
        while True:
            read.append(1)
            yield b"a" * 65536

    with pytest.raises(ValueError) as refused:
        _kelnor._build_from_text_records(endless(), "\t", 3)
    assert str(refused.value) == f"2: the line is longer than {MAX_LINE_BYTES} bytes"
    assert len(read) == MAX_LINE_BYTES // 65536 + 1


@pytest.mark.parametrize("fold", [False, True], ids=["streamed", "folded"])
def test_every_records_file_build_refuses_a_long_line_before_it_ends(monkeypatch, fold):
    # A folded build parses its file whole: it too stops reading at the limit,
    # long before the end of a line of 4 MiB (standing for one that never ends).
    read = []

    def a_long_line(path, progress):
        yield b"cat\t1\t1\n"
        for _ in range(64):
            read.append(1)
            yield b"a" * 65536

    monkeypatch.setattr(records_file, "_read_pieces", a_long_line)
    with pytest.raises(records_file.CommandError) as refused:
        records_file.build_records_file("records.tsv", "tsv", 3, fold)
    assert str(refused.value) == f"records.tsv:2: the line is longer than {MAX_LINE_BYTES} bytes"
    assert len(read) == MAX_LINE_BYTES // 65536 + 1


def folded_outcome(data: bytes) -> tuple[str, object]:
    try:
        return "ok", _kelnor._parse_text_records(data, "\t")
    except ValueError as error:
        return "refused", str(error)


@settings(max_examples=60, deadline=None)
@given(
    st.lists(st.sampled_from([b"cat\t1\t1\n", b"\n", b"dog\tx\t1\n"]), max_size=4),
    st.integers(MAX_LINE_BYTES - 2, MAX_LINE_BYTES + 2),
    st.booleans(),
    st.lists(st.sampled_from([b"cat\t1\t1\n", b"a" * (MAX_LINE_BYTES + 5)]), max_size=2),
    st.lists(st.integers(0, 2 * MAX_LINE_BYTES + 40), max_size=4),
)
def test_a_folded_build_cut_at_a_long_line_parses_as_the_whole_file(before, length, ends, after, cuts):
    long_line = b"x\t1\t" + b"1" * (length - 6 - ends) + b"\n" * ends
    data = b"".join(before) + long_line + b"".join(after)
    cut = b"".join(records_file._cut_at_a_long_line(pieces_of(data, cuts)))
    assert folded_outcome(cut) == folded_outcome(data)


@pytest.mark.parametrize("length", [MAX_LINE_BYTES, MAX_LINE_BYTES + 1])
def test_the_line_limit_counts_the_line_end(length):
    line = b" " * (length - 1) + b"\n"
    expected = ("ok", kelnor.build([("x", 1, 1)], 3).to_bytes())
    if length > MAX_LINE_BYTES:
        expected = ("refused", f"1: the line is longer than {MAX_LINE_BYTES} bytes")
    assert outcome(line + b"x\t1\t1\n") == expected
    assert outcome(pieces_of(line + b"x\t1\t1\n", [5, length // 2])) == expected


def too_long(kind: str) -> str:
    # One byte over the limit, in characters of one, two and three bytes.
    width = {"ascii": 1, "two": 2, "three": 3}[kind]
    character = {"ascii": "a", "two": "é", "three": "€"}[kind]
    return character * (MAX_TERM_BYTES // width) + "a" * (MAX_TERM_BYTES % width + 1)


@pytest.mark.parametrize("kind", ["ascii", "two", "three"])
def test_every_build_path_refuses_a_term_over_the_limit_naming_its_row(kind):
    term = too_long(kind)
    size = len(term.encode())
    assert size == MAX_TERM_BYTES + 1
    message = f"a term must be at most {MAX_TERM_BYTES} bytes of UTF-8, this one has {size}"
    records = [("cat", 1, 1), (term, 2, 1)]
    with pytest.raises(ValueError) as record_path:
        kelnor.build(records)
    assert str(record_path.value) == message
    if pa is not None:
        table = pa.table({"term": [r[0] for r in records], "video": [1, 2], "count": [1, 1]})
        with pytest.raises(ValueError) as arrow_path:
            kelnor.build(table)
        assert str(arrow_path.value) == f"row 1: {message}"
    with pytest.raises(ValueError) as python_rows:
        kelnor.build_columns([r[0] for r in records], [1, 2], [1, 1])
    assert str(python_rows.value) == f"row 1: {message}"
    assert outcome(tsv(records)) == ("refused", f"2: {message}")


def test_a_term_at_the_limit_is_kept_on_every_path():
    term = "é" * (MAX_TERM_BYTES // 2)
    expected = kelnor.build([(term, 1, 1)]).to_bytes()
    if pa is not None:
        table = pa.table({"term": [term], "video": [1], "count": [1]})
        assert kelnor.build(table).to_bytes() == expected
    assert _kelnor._build_from_text_records(tsv([(term, 1, 1)]), "\t", 50).to_bytes() == expected


def test_a_records_file_names_the_line_of_a_long_term(tmp_path, capsys):
    path = tmp_path / "records.tsv.gz"
    path.write_bytes(gzip.compress(b"cat\t1\t1\n" + b"a" * (MAX_TERM_BYTES + 1) + b"\t1\t1\n"))
    assert kelnor_main(["build", str(path), "-o", str(tmp_path / "out.bin")]) == 1
    assert capsys.readouterr().err == (
        f"kelnor: {path}:2: a term must be at most {MAX_TERM_BYTES} bytes of UTF-8, "
        f"this one has {MAX_TERM_BYTES + 1}\n"
    )


@pytest.mark.parametrize("members", [1, 3])
def test_a_gzip_records_file_builds_what_its_content_builds(tmp_path, capsys, members):
    records = [(f"term{k % 97}", k % 13, k) for k in range(5000)]
    data = tsv(records)
    third = len(data) // 3
    parts = [data] if members == 1 else [data[:third], data[third : 2 * third], data[2 * third :]]
    path = tmp_path / "records.tsv.gz"
    path.write_bytes(b"".join(gzip.compress(part) for part in parts))
    assert kelnor_main(["build", str(path), "-o", str(tmp_path / "out.bin")]) == 0
    capsys.readouterr()
    assert kelnor.load(tmp_path / "out.bin").to_bytes() == kelnor.build(records).to_bytes()
