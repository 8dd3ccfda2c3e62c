"""The native builds from columns against the record path: the same rows give
the same image byte for byte, and a refused row the record path's message
with its row number.

Each input kind has its differential test: Arrow tables in several batches,
Arrow arrays, numpy arrays, plain sequences and records files parsed by the
extension. pyarrow has no wheels for PyPy, so its tests skip there.
"""

from __future__ import annotations

import importlib.util
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _kelnor
import kelnor

U32_MAX = 2**32 - 1
NO_PYARROW = "pyarrow is not installed (it has no wheels for PyPy)"

# A few characters of one to four UTF-8 bytes and a space, so that terms share
# prefixes (some past their first eight bytes), and video ids and counts that
# repeat and reach the 32-bit edge.
TERMS = st.one_of(
    st.text(alphabet="abé日😀 ", min_size=1, max_size=4),
    st.text(alphabet="ab", min_size=7, max_size=10),
)
INT_IDS = st.one_of(st.integers(0, 5), st.integers(0, U32_MAX))
# Two of them hold zero bytes, first and last, which a C string would end at.
UUIDS = st.sampled_from(
    [uuid.UUID(int=k * 0x0123456789ABCDEF0123456789ABCDEF) for k in range(1, 6)]
    + [uuid.UUID(int=1), uuid.UUID(int=0xFF << 120 | 0x100)]
)
COUNTS = st.one_of(st.integers(0, 4), st.just(U32_MAX), st.integers(0, U32_MAX))
ROWS = st.one_of(
    st.lists(st.tuples(TERMS, INT_IDS, COUNTS), max_size=30),
    st.lists(st.tuples(TERMS, UUIDS, COUNTS), max_size=30),
)
TOP_N = st.integers(0, 3)


def record_image(rows, top_n: int) -> bytes:
    return kelnor.build(rows, video_top_n=top_n).to_bytes()


def record_refusal(rows) -> str:
    """The record path's message for the first refused row, with its row number."""
    builder = kelnor.IndexBuilder()
    for row, record in enumerate(rows):
        try:
            builder.add(*record)
        except (TypeError, ValueError) as error:
            return f"row {row}: {error}"
    raise AssertionError("the record path took every row")


def columns_of(rows):
    return [list(column) for column in zip(*rows)] if rows else [[], [], []]


def uses_uuids(rows) -> bool:
    return any(isinstance(video, uuid.UUID) for _, video, _ in rows)


# ------------------------------------------------------------ Arrow tables


def pyarrow_module():
    return pytest.importorskip("pyarrow", reason=NO_PYARROW)


def arrow_videos(pa, videos, is_uuid: bool, form: str):
    if not is_uuid:
        return pa.array(videos, {"int64": pa.int64(), "uint32": pa.uint32()}.get(form, pa.uint64()))
    if form == "bytes":
        return pa.array([video.bytes for video in videos], pa.binary(16))
    if form == "text":
        return pa.array([str(video).upper() for video in videos], pa.large_string())
    return pa.array([f"{{{video.hex}}}" for video in videos], pa.string_view())


@settings(max_examples=150, deadline=None)
@given(
    rows=ROWS,
    top_n=TOP_N,
    term_type=st.sampled_from(["string", "large_string", "string_view"]),
    video_form=st.sampled_from(["int64", "uint32", "other"]),
    count_type=st.sampled_from(["int64", "uint32", "uint64"]),
    batch_rows=st.integers(1, 8),
    skipped=st.integers(0, 2),
)
def test_an_arrow_table_in_batches_builds_the_record_paths_image(
    rows, top_n, term_type, video_form, count_type, batch_rows, skipped
):
    pa = pyarrow_module()
    terms, videos, counts = columns_of(rows)
    table = pa.table(
        {
            "count": pa.array(counts, getattr(pa, count_type)()),
            "term": pa.array(terms, getattr(pa, term_type)()),
            "other": pa.array([None] * len(rows), pa.null()),
            "video": arrow_videos(pa, videos, uses_uuids(rows), video_form),
        }
    )
    # Batches of a few rows, from a slice: offsets into shared buffers.
    sliced = pa.Table.from_batches(
        table.slice(skipped).to_batches(max_chunksize=batch_rows), table.schema
    )
    assert kelnor.build(sliced, top_n).to_bytes() == record_image(rows[skipped:], top_n)


def python_reader(pa, batches, failure=None):
    """A record batch reader whose batches a Python generator makes: the
    extension reads it with the interpreter lock released, and pyarrow takes
    the lock back for each batch."""
    schema = pa.schema([("term", pa.string()), ("video", pa.int64()), ("count", pa.int64())])

    def generate():
        for batch in batches:
            yield pa.record_batch([pa.array(column) for column in zip(*batch)], schema=schema)
        if failure:
            raise failure

    return pa.RecordBatchReader.from_batches(schema, generate())


def test_a_reader_fed_by_python_builds_in_batches():
    pa = pyarrow_module()
    batches = [[("cat", 1, 2), ("car", 2, 1)], [("cat", 2, 5)], [("dog", 1, 1)]]
    built = kelnor.build(python_reader(pa, batches))
    assert built.to_bytes() == record_image([row for batch in batches for row in batch], 50)


def test_a_failing_stream_is_refused_with_its_reason():
    pa = pyarrow_module()
    with pytest.raises(ValueError, match="^the table's stream failed to give a batch: .*gone"):
        kelnor.build(python_reader(pa, [[("cat", 1, 2)]], failure=OSError("gone")))


@settings(max_examples=80, deadline=None)
@given(rows=ROWS, top_n=TOP_N)
def test_arrow_arrays_build_the_record_paths_image(rows, top_n):
    pa = pyarrow_module()
    terms, videos, counts = columns_of(rows)
    built = kelnor.build_columns(
        pa.array(terms, pa.string()),
        arrow_videos(pa, videos, uses_uuids(rows), "bytes"),
        pa.array(counts, pa.uint64()),
        top_n,
    )
    assert built.to_bytes() == record_image(rows, top_n)


@settings(max_examples=80, deadline=None)
@given(rows=ROWS, top_n=TOP_N)
def test_numpy_arrays_build_the_record_paths_image(rows, top_n):
    np = pytest.importorskip("numpy")
    terms, videos, counts = columns_of(rows)
    if uses_uuids(rows) and importlib.util.find_spec("pyarrow") is None:
        video_column = videos  # 16-byte ids are read natively, through pyarrow, only
    elif uses_uuids(rows):  # as 16 bytes each
        video_column = np.array([video.bytes for video in videos], "S16")
    else:
        video_column = np.array(videos, np.uint64)
    built = kelnor.build_columns(
        np.array(terms, dtype=str), video_column, np.array(counts, np.int64)[::1], top_n
    )
    assert built.to_bytes() == record_image(rows, top_n)


@pytest.mark.parametrize("term", ["b\0c", "\0b", "b\ud800"], ids=repr)
def test_a_numpy_term_that_pyarrow_would_cut_or_refuse_is_refused_by_row(term):
    np = pytest.importorskip("numpy")
    rows = [("a", 1, 1), (term, 2, 1), ("c", 3, 1)]
    with pytest.raises(ValueError) as refused:
        kelnor.build_columns(np.array([t for t, _, _ in rows]), np.array([1, 2, 3]), np.ones(3, int))
    assert str(refused.value) == record_refusal(rows)


@settings(max_examples=60, deadline=None)
@given(rows=ROWS, top_n=TOP_N)
def test_plain_sequences_build_the_record_paths_image(rows, top_n):
    terms, videos, counts = columns_of(rows)
    assert kelnor.build_columns(terms, videos, counts, top_n).to_bytes() == record_image(
        rows, top_n
    )


@pytest.mark.parametrize(
    "videos",
    [
        pytest.param([3, 0, 3, 7], id="dense, looked up by id"),
        pytest.param([15, 2, 15, 9], id="the densest looked up by id"),
        pytest.param([16, 2, 16, 9], id="just too sparse, hashed"),
        pytest.param([2**32 - 2, 5, 2**32 - 2, 0], id="sparse, hashed"),
        pytest.param([5, 2**32, 5, 1], id="dense with one out of range"),
        pytest.param([5, None, 5, 1], id="dense with a null"),
    ],
)
def test_videos_take_positions_in_order_of_first_appearance(videos):
    rows = list(zip(["cat", "car", "dog", "cat"], videos, [1, 2, 3, 4]))
    try:
        expected = record_image(rows, 50)
    except (TypeError, ValueError):
        with pytest.raises((TypeError, ValueError)) as refused:
            kelnor.build_columns(*columns_of(rows))
        assert str(refused.value) == record_refusal(rows)
    else:
        assert kelnor.build_columns(*columns_of(rows)).to_bytes() == expected


def test_terms_that_share_their_first_eight_bytes_sort_by_code_point():
    terms = ["abcdefgh", "abcdefg", "abcdefghé", "abcdefgha", "abcdefg\x7f", "abcdefg\x80",
             "abcdefgé", "abcdefgh日", "abcdefgh\U0001f600", "abcdefgh "]
    rows = [(term, k, 1) for k, term in enumerate(terms)]
    assert kelnor.build_columns(*columns_of(rows)).to_bytes() == record_image(rows, 50)
    assert kelnor.build_columns(*columns_of(rows[::-1])).to_bytes() == record_image(rows[::-1], 50)


def test_strided_numpy_counts_are_read_from_a_copy():
    np = pytest.importorskip("numpy")
    counts = np.arange(10, dtype=np.int32)[::2]
    built = kelnor.build_columns(["a", "b", "c", "d", "e"], np.arange(5), counts)
    assert built.to_bytes() == record_image(list(zip("abcde", range(5), range(0, 10, 2))), 50)


# ---------------------------------------------------------- records files


def tsv(rows) -> bytes:
    return "".join(f"{term}\t{video}\t{count}\n" for term, video, count in rows).encode()


def csv(rows) -> bytes:
    def field(term: str) -> str:
        return '"' + term.replace('"', '""') + '"' if any(c in term for c in ',"') else term

    return "".join(f"{field(term)}, {video} ,{count}\r\n" for term, video, count in rows).encode()


CSV_TERMS = st.text(alphabet='ab,"é ', min_size=1, max_size=4).filter(lambda term: term.strip())


@settings(max_examples=100, deadline=None)
@given(rows=ROWS, top_n=TOP_N)
def test_a_tsv_file_builds_the_record_paths_image(rows, top_n):
    rows = [row for row in rows if row[0].strip()]  # a blank line is skipped
    built = _kelnor._build_from_text_records(b"\xef\xbb\xbfterm\tvideo\tcount\n" + tsv(rows), "\t", top_n)
    assert built.to_bytes() == record_image(rows, top_n)


@settings(max_examples=100, deadline=None)
@given(rows=st.lists(st.tuples(CSV_TERMS, INT_IDS, COUNTS), max_size=20), top_n=TOP_N)
def test_a_csv_file_builds_the_record_paths_image(rows, top_n):
    built = _kelnor._build_from_text_records(b"term,video,count\n" + csv(rows), ",", top_n)
    assert built.to_bytes() == record_image(rows, top_n)


# ----------------------------------------------------------------- refusals

GOOD = ("cat", 7, 1)


@pytest.mark.parametrize(
    "bad",
    [
        ("", 7, 1),
        ("c\x00t", 7, 1),
        ("cat", 7, -1),
        ("cat", 7, 2**32),
        ("cat", -3, 1),
        ("cat", 2**32, 1),
        ("cat", "not a uuid", 1),
        ("cat", "{urn:uuid:12345678123456781234567812345678}", 2**40),
    ],
)
@pytest.mark.parametrize("kind", ["table", "numpy"])
def test_a_refused_row_gets_the_record_paths_message_and_its_number(bad, kind):
    pa = pyarrow_module()
    rows = [GOOD, GOOD, bad, ("", 7, 1)]
    terms, videos, counts = columns_of(rows)
    video_type = pa.string() if isinstance(bad[1], str) else pa.int64()
    if isinstance(bad[1], str):
        videos = [str(uuid.UUID(int=7)) if video == 7 else video for video in videos]
        rows = list(zip(terms, videos, counts))
    with pytest.raises(ValueError) as refused:
        if kind == "table":
            kelnor.build(
                pa.table(
                    {
                        "term": pa.array(terms),
                        "video": pa.array(videos, video_type),
                        "count": pa.array(counts, pa.int64()),
                    }
                )
            )
        else:
            kelnor.build_columns(pa.array(terms), pa.array(videos, video_type), pa.array(counts))
    assert str(refused.value) == record_refusal(rows)


@pytest.mark.parametrize(
    "column, message",
    [
        ("term", "row 1: the term is null"),
        ("video", "row 1: the video id is null"),
        ("count", "row 1: the count is null"),
    ],
)
def test_a_null_is_refused_by_its_row(column, message):
    pa = pyarrow_module()
    values = {"term": ["a", "b"], "video": [1, 2], "count": [1, 1]}
    values[column][1] = None
    with pytest.raises(ValueError, match=f"^{message}$"):
        kelnor.build(pa.table(values))


def test_a_term_that_is_not_utf8_is_refused():
    pa = pyarrow_module()
    terms = pa.array([b"a", b"\xff"], pa.binary()).view(pa.string())
    with pytest.raises(ValueError, match=r"^row 1: term b'\\xff' is not UTF-8$"):
        kelnor.build_columns(terms, pa.array([1, 2]), pa.array([1, 1]))


@pytest.mark.parametrize(
    "table, message",
    [
        ({"term": ["a"], "video": [1]}, "the table has no column 'count' (its columns: 'term', 'video')"),
        (
            {"term": [1], "video": [1], "count": [1]},
            "column 'term' has type int64, not strings (string, large_string or string_view)",
        ),
        ({"term": ["a"], "video": [1], "count": [1.5]}, "column 'count' has type float64; counts must be integers"),
        (
            {"term": ["a"], "video": [1.0], "count": [1]},
            "column 'video' has type float64; video ids must be integers, 16-byte UUIDs "
            "(fixed_size_binary(16)) or UUID strings",
        ),
    ],
)
def test_a_table_of_the_wrong_shape_is_refused(table, message):
    pa = pyarrow_module()
    with pytest.raises((TypeError, ValueError)) as refused:
        kelnor.build(pa.table(table))
    assert str(refused.value) == message


@pytest.mark.parametrize(
    "type_of, name",
    [
        (lambda pa: pa.binary(8), "fixed_size_binary(8)"),
        (lambda pa: pa.decimal128(5, 2), "decimal(5,2)"),
        (lambda pa: pa.timestamp("ms"), "timestamp"),
        (lambda pa: pa.list_(pa.int64()), "list"),
    ],
)
def test_a_counts_column_of_another_type_is_named_by_its_type(type_of, name):
    pa = pyarrow_module()
    counts = pa.array([None], type_of(pa))
    with pytest.raises(TypeError) as refused:
        kelnor.build_columns(pa.array(["a"]), pa.array([1]), counts)
    assert str(refused.value) == f"the counts column has type {name}; counts must be integers"


def test_columns_of_different_lengths_are_refused():
    pa = pyarrow_module()
    with pytest.raises(ValueError, match="^the columns differ in length: 2 terms, 1 video ids, 2 counts$"):
        kelnor.build_columns(pa.array(["a", "b"]), pa.array([1]), pa.array([1, 2]))
    with pytest.raises(ValueError, match="^the columns differ in length: 2 terms, 1 video ids, 2 counts$"):
        kelnor.build_columns(["a", "b"], [1], [1, 2])


def test_plain_sequences_name_the_refused_row():
    with pytest.raises(TypeError, match="^row 1: count must be an int, not 'float'$"):
        kelnor.build_columns(["a", "b"], [1, 2], [1, 1.5])


class TwoPartError(ValueError):
    def __init__(self, first: str, second: str) -> None:
        super().__init__(first, second)


def uuid_failing_with(error: Exception) -> uuid.UUID:
    class FailingUuid(uuid.UUID):
        @property
        def bytes(self) -> bytes:
            raise error

    return FailingUuid(int=5)


@pytest.mark.parametrize(
    "error",
    [UnicodeDecodeError("utf-8", b"\xff", 0, 1, "bad byte"), TwoPartError("a", "b")],
    ids=["UnicodeDecodeError", "two-part ValueError"],
)
def test_a_host_error_that_takes_no_row_number_passes_as_raised(error):
    video = uuid_failing_with(error)
    with pytest.raises(type(error)) as raised:
        kelnor.build_columns(["a", "b"], [uuid.UUID(int=1), video], [1, 1])
    assert raised.value is error


# The UUID strings that uuid.UUID reads, and some it refuses.
UUID_TEXTS = [
    "12345678-1234-5678-1234-567812345678",
    "12345678123456781234567812345678",
    "{12345678-1234-5678-1234-567812345678}",
    "urn:uuid:12345678-1234-5678-1234-567812345678",
    "URN:UUID:12345678-1234-5678-1234-567812345678",
    "1234567-81234-5678-1234-567812345678",
    "0x345678123456781234567812345678",
    "0x_45678123456781234567812345678",
    " 2345678123456781234567812345678",
    "+2345678123456781234567812345678",
    "1_345678123456781234567812345678",
    "1__45678123456781234567812345678",
    "_2345678123456781234567812345678",
    "234567812345678123456781234567_",
    "urnurn::12345678123456781234567812345678",
    "{{12345678123456781234567812345678}}",
    "1234567812345678123456781234567g",
    "",
]


@pytest.mark.parametrize("text", UUID_TEXTS)
def test_uuid_strings_are_read_as_uuid_reads_them(text):
    pa = pyarrow_module()
    try:
        expected = record_image([("a", text, 1)], 50)
    except ValueError:
        expected = None
    try:
        built = kelnor.build_columns(pa.array(["a"]), pa.array([text]), pa.array([1])).to_bytes()
    except ValueError as refused:
        assert str(refused) == record_refusal([("a", text, 1)])
        built = None
    assert built == expected


# Bytes that the line parser must treat as the record path does: separators,
# quotes, line ends, Python's white space (ASCII and not), signs, digits, a
# NUL, a UUID, and bytes that are not UTF-8 (a bad start, an overlong form,
# an encoded surrogate, a sequence cut short), rarer than the rest.
PIECES = [
    "\t", ",", '"', "\r", " ", "\u00a0", "\u3000", "\x1c", "-", "0", "7", "42", "4294967296",
    "a", "é", "\x00", "12345678-1234-5678-1234-567812345678", "", "", "", "",
]
BAD_BYTES = [b"\xff", b"\xe0\x80", b"\xed\xa0\x80", b"\xe2\x82", b"\xef\xbb\xbf"]
FIELD = st.lists(
    st.sampled_from([piece.encode() for piece in PIECES] * 8 + BAD_BYTES), max_size=3
).map(b"".join)
LINES = st.lists(
    st.one_of(st.lists(FIELD, min_size=3, max_size=3), st.lists(FIELD, min_size=1, max_size=4)),
    max_size=6,
)


@settings(max_examples=400, deadline=None)
@given(lines=LINES, separator=st.sampled_from(["\t", ","]), end=st.sampled_from([b"", b"\n"]), top_n=TOP_N)
def test_the_line_parser_follows_the_record_paths_reading(lines, separator, end, top_n):
    from model_records_file import model_build

    data = b"\n".join(separator.encode().join(fields) for fields in lines) + end
    expected = model_build(data, separator, top_n)
    try:
        built = _kelnor._build_from_text_records(data, separator, top_n).to_bytes()
    except ValueError as refused:
        built = str(refused)
    assert built == expected


def test_a_table_is_not_folded():
    pa = pyarrow_module()
    table = pa.table({"term": ["Cat"], "video": [1], "count": [1]})
    with pytest.raises(ValueError, match=r"^a table is built as it is: fold its terms first \(kelnor.fold\)$"):
        kelnor.build(table, fold=True)
