"""The natural column types of the native build against the record path:
chunked Arrow columns whose chunks do not line up, dictionary-encoded terms,
polars and pandas series, numpy arrays of either byte order and masked ones,
binary video ids and a table's columns named by the caller. Each gives the
record path's image byte for byte, or a refusal that names the column or
the row.

pyarrow, pandas and polars are optional: each test skips without the one it
reads.
"""

from __future__ import annotations

import textwrap
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor
from test_resource_bounds import run_child

U32_MAX = 2**32 - 1
NO_PYARROW = "pyarrow is not installed (it has no wheels for PyPy)"

TERMS = st.text(alphabet="abé日 ", min_size=1, max_size=4)
ROWS = st.lists(st.tuples(TERMS, st.integers(0, 6), st.integers(0, U32_MAX)), max_size=30)
UUID_ROWS = st.lists(
    st.tuples(TERMS, st.sampled_from([uuid.UUID(int=k * 0x1357_9BDF) for k in range(1, 5)]),
              st.integers(0, 9)),
    max_size=20,
)


def record_image(rows, top_n: int = 50) -> bytes:
    return kelnor.build(rows, video_top_n=top_n).to_bytes()


def columns_of(rows):
    return [list(column) for column in zip(*rows)] if rows else [[], [], []]


def cut(values: list, sizes: list[int]) -> list[list]:
    """`values` in chunks of the given sizes, the rest in a last chunk."""
    chunks, start = [], 0
    for size in sizes:
        chunks.append(values[start : start + size])
        start += size
    return chunks + [values[start:]]


def pyarrow_module():
    return pytest.importorskip("pyarrow", reason=NO_PYARROW)


# ------------------------------------------------------------ chunked columns


@settings(max_examples=100, deadline=None)
@given(
    rows=ROWS,
    cuts=st.lists(st.lists(st.integers(0, 5), max_size=4), min_size=3, max_size=3),
    dictionary=st.booleans(),
    top_n=st.integers(0, 3),
)
def test_chunked_columns_build_the_record_paths_image(rows, cuts, dictionary, top_n):
    pa = pyarrow_module()
    types = (pa.string(), pa.uint32(), pa.int64())
    chunked = [
        pa.chunked_array([pa.array(chunk, kind) for chunk in cut(column, sizes)], kind)
        for column, sizes, kind in zip(columns_of(rows), cuts, types)
    ]
    if dictionary:
        chunked[0] = chunked[0].dictionary_encode()
    built = kelnor.build_columns(*chunked, top_n)
    assert built.to_bytes() == record_image(rows, top_n)


@settings(max_examples=50, deadline=None)
@given(rows=ROWS, key_type=st.sampled_from(["int8", "uint16", "int32", "uint64"]))
def test_a_table_of_dictionary_terms_builds_the_record_paths_image(rows, key_type):
    pa = pyarrow_module()
    terms, videos, counts = columns_of(rows)
    words = sorted(set(terms))[::-1]
    keys = pa.array([words.index(term) for term in terms], getattr(pa, key_type)())
    table = pa.table(
        {
            "term": pa.DictionaryArray.from_arrays(keys, pa.array(words, pa.large_string())),
            "video": pa.array(videos, pa.int64()),
            "count": pa.array(counts, pa.int64()),
        }
    )
    assert kelnor.build(table).to_bytes() == record_image(rows)


@pytest.mark.parametrize(
    "keys, message",
    [
        ([0, 2], "row 1: the term lies outside its column's data"),
        ([-1, 0], "row 0: the term lies outside its column's data"),
        ([0, None], "row 1: the term is null"),
    ],
)
def test_a_dictionary_key_outside_its_words_is_refused(keys, message):
    pa = pyarrow_module()
    terms = pa.DictionaryArray.from_arrays(
        pa.array(keys, pa.int32()), pa.array(["a", "b"]), safe=False
    )
    with pytest.raises(ValueError, match=f"^{message}$"):
        kelnor.build_columns(terms, pa.array([1, 2]), pa.array([1, 1]))


def test_dictionary_words_that_are_null_are_null_terms():
    pa = pyarrow_module()
    terms = pa.DictionaryArray.from_arrays(pa.array([0, 1], pa.int8()), pa.array(["a", None]))
    with pytest.raises(ValueError, match="^row 1: the term is null$"):
        kelnor.build_columns(terms, pa.array([1, 2]), pa.array([1, 1]))


# ------------------------------------------------------------ polars, pandas


@settings(max_examples=30, deadline=None)
@given(rows=st.one_of(ROWS, UUID_ROWS), categorical=st.booleans())
def test_polars_series_build_the_record_paths_image(rows, categorical):
    pl = pytest.importorskip("polars")
    terms, videos, counts = columns_of(rows)
    as_bytes = [video.bytes if isinstance(video, uuid.UUID) else video for video in videos]
    term_series = pl.Series(terms, dtype=pl.Categorical if categorical else pl.String)
    video_series = pl.Series(as_bytes, dtype=pl.Binary if rows and isinstance(videos[0], uuid.UUID)
                             else pl.UInt32)
    built = kelnor.build_columns(term_series, video_series, pl.Series(counts, dtype=pl.UInt64))
    assert built.to_bytes() == record_image(rows)
    frame = pl.DataFrame({"q": term_series, "v": video_series, "c": pl.Series(counts, dtype=pl.Int64)})
    assert kelnor.build(frame, term="q", video="v", count="c").to_bytes() == record_image(rows)


@settings(max_examples=30, deadline=None)
@given(rows=ROWS)
def test_pandas_series_beside_arrow_terms_build_the_record_paths_image(rows):
    pd = pytest.importorskip("pandas")
    pa = pyarrow_module()
    terms, videos, counts = columns_of(rows)
    built = kelnor.build_columns(
        pa.array(terms, pa.string()),
        pd.Series(videos, dtype="int64"),
        pd.Series(counts, dtype="uint64"),
    )
    assert built.to_bytes() == record_image(rows)
    assert kelnor.build_columns(pd.Series(terms, dtype=object), videos, counts).to_bytes() == (
        record_image(rows)
    )


@pytest.mark.parametrize("dtype", [None, "string"])
def test_a_missing_pandas_value_is_a_null_row(dtype):
    pd = pytest.importorskip("pandas")
    pyarrow_module()
    terms = pd.Series(["a", None], dtype=dtype)
    # Before pandas 3 a series has no stream interface: one of objects is
    # read row by row, as records are, and one of texts through pyarrow.
    arrow = dtype == "string" or hasattr(terms, "__arrow_c_stream__")
    message = "the term is null" if arrow else "a term must be a str, not 'NoneType'"
    with pytest.raises((TypeError, ValueError), match=f"^row 1: {message}$"):
        kelnor.build_columns(terms, pd.Series([1, 2]), pd.Series([1, 1]))


# ------------------------------------------------------------ numpy


def test_numpy_integers_of_either_byte_order_build_the_same_index():
    np = pytest.importorskip("numpy")
    rows = [("a", 7, 3), ("b", 300, 2**31), ("a", 300, 1)]
    terms, videos, counts = columns_of(rows)
    for order in "<>":
        built = kelnor.build_columns(
            terms, np.array(videos, f"{order}u4"), np.array(counts, f"{order}i8")
        )
        assert built.to_bytes() == record_image(rows)


@pytest.mark.parametrize(
    "column, shape, message",
    [
        (0, (1, 1), "the terms column must have one dimension, not 2"),
        (1, (), "the video ids column must have one dimension, not 0"),
        (2, (1, 1, 1), "the counts column must have one dimension, not 3"),
    ],
)
def test_a_numpy_column_of_other_dimensions_is_refused_by_name(column, shape, message):
    np = pytest.importorskip("numpy")
    values = [np.array(["a"]), np.array([1]), np.array([1])]
    values[column] = values[column].reshape(shape)
    with pytest.raises(TypeError) as raised:
        kelnor.build_columns(*values)
    assert str(raised.value) == message


@pytest.mark.parametrize("order", "<>")
@pytest.mark.parametrize(
    "column, message",
    [(0, "the term is null"), (1, "the video id is null"), (2, "the count is null")],
)
def test_a_masked_numpy_entry_is_a_null_row(column, message, order):
    np = pytest.importorskip("numpy")
    pyarrow_module()
    values = [
        np.array(["a", "b", "c"], f"{order}U1"),
        np.array([1, 2, 3], f"{order}u4"),
        np.array([1, 1, 1], f"{order}i8"),
    ]
    masked = list(values)
    masked[column] = np.ma.masked_array(values[column], mask=[False, False, False])
    assert kelnor.build_columns(*masked).to_bytes() == record_image(
        [("a", 1, 1), ("b", 2, 1), ("c", 3, 1)]
    )
    masked[column] = np.ma.masked_array(values[column], mask=[False, True, False])
    with pytest.raises(ValueError, match=f"^row 1: {message}$"):
        kelnor.build_columns(*masked)


def test_a_large_numpy_str_column_builds_the_record_paths_image():
    np = pytest.importorskip("numpy")
    pyarrow_module()
    terms = [f"w{k % 5000}" for k in range(300_000)]
    videos = np.arange(300_000, dtype=np.int64) % 1000
    counts = np.ones(300_000, dtype=np.int64)
    built = kelnor.build_columns(np.array(terms), videos, counts)
    assert built.to_bytes() == record_image(list(zip(terms, videos.tolist(), counts.tolist())))


# ------------------------------------------------------------ binary ids


@pytest.mark.parametrize("binary", ["binary", "large_binary", "binary_view"])
def test_binary_video_ids_are_uuids(binary):
    pa = pyarrow_module()
    ids = [uuid.UUID(int=5), uuid.UUID(int=2**100), uuid.UUID(int=5)]
    rows = [("a", ids[0], 1), ("b", ids[1], 2), ("a", ids[2], 3)]
    videos = pa.array([video.bytes for video in ids], getattr(pa, binary)())
    built = kelnor.build_columns(pa.array(["a", "b", "a"]), videos, pa.array([1, 2, 3]))
    assert built.to_bytes() == record_image(rows)


def test_a_binary_video_id_of_other_than_16_bytes_is_refused():
    pa = pyarrow_module()
    videos = pa.array([bytes(16), b"\x01\x02"], pa.binary_view())
    with pytest.raises(
        ValueError,
        match=r"^row 1: video id b'\\x01\\x02' holds 2 bytes; a binary video id is the 16 bytes "
        r"of a UUID$",
    ):
        kelnor.build_columns(pa.array(["a", "b"]), videos, pa.array([1, 1]))


# ------------------------------------------------------------ names, types


def test_a_tables_columns_are_named_by_the_caller():
    pa = pyarrow_module()
    rows = [("cat", 7, 3), ("car", 9, 1)]
    terms, videos, counts = columns_of(rows)
    table = pa.table({"query": terms, "video_id": videos, "clicks": counts, "term": [1, 2]})
    built = kelnor.build(table, term="query", video="video_id", count="clicks")
    assert built.to_bytes() == record_image(rows)


@pytest.mark.parametrize(
    "columns, names, error, message",
    [
        ({"q": ["a"], "video": [1], "count": [1]}, {"term": "query"}, ValueError,
         "the table has no column 'query' (its columns: 'q', 'video', 'count')"),
        ({"term": ["a"], "video": [1], "count": [1]}, {"count": 5}, TypeError,
         "count names a column: a str, not 'int'"),
    ],
)
def test_a_named_column_must_be_there(columns, names, error, message):
    pa = pyarrow_module()
    with pytest.raises(error) as refused:
        kelnor.build(pa.table(columns), **names)
    assert str(refused.value) == message


def test_two_columns_of_one_name_are_refused():
    pa = pyarrow_module()
    table = pa.Table.from_arrays(
        [pa.array(["a"]), pa.array([1]), pa.array([1]), pa.array(["b"])],
        names=["term", "video", "count", "term"],
    )
    with pytest.raises(ValueError, match="^the table has 2 columns named 'term'; name the one to read$"):
        kelnor.build(table)


def test_names_are_for_tables_not_records():
    with pytest.raises(TypeError, match=r"^term, video and count name the columns of a table; "
                       r"records are \(term, video id, count\) triples$"):
        kelnor.build([("a", 1, 1)], term="query")


@pytest.mark.parametrize(
    "columns, message",
    [
        ((None, [1], [1]), "the terms column must be an Arrow array or chunked array, a numpy "
         "array or a sequence, not 'NoneType'"),
        ((["a"], {1}, [1]), "the video ids column must be an Arrow array or chunked array, a "
         "numpy array or a sequence, not 'set'"),
        ((["a"], [1], 1), "the counts column must be an Arrow array or chunked array, a numpy "
         "array or a sequence, not 'int'"),
    ],
)
def test_a_column_of_no_column_type_is_refused_by_its_name(columns, message):
    with pytest.raises(TypeError) as refused:
        kelnor.build_columns(*columns)
    assert str(refused.value) == message


def test_an_arrow_column_of_a_wrong_type_names_the_column():
    pa = pyarrow_module()
    with pytest.raises(TypeError, match="^the counts column has type string; counts must be integers$"):
        kelnor.build_columns(pa.array(["a"]), pa.array([1]), pa.chunked_array([["x"]]))


# ------------------------------------------------------------ the record builder


def test_a_builder_goes_on_gathering_after_a_build():
    builder = kelnor.IndexBuilder()
    builder.add("cat", 7, 1)
    first = builder.build()
    builder.add("car", 9, 2)
    assert first.to_bytes() == record_image([("cat", 7, 1)])
    assert builder.build().to_bytes() == record_image([("cat", 7, 1), ("car", 9, 2)])


SNEAKY_RECORD = textwrap.dedent(
    """
    import kelnor

    class Sneaky:
        '''A video id whose __class__, which isinstance() reads, empties its record.'''

        def __init__(self, record):
            self.record = record

        @property
        def __class__(self):
            self.record.clear()
            return Sneaky

    # Fresh objects, which the record alone holds.
    record = ["".join(["c", "at"]), None, int("4000000000")]
    record[1] = Sneaky(record)
    try:
        kelnor.build([record])
    except TypeError as error:
        print(repr(str(error)))
    """
)


def test_a_record_emptied_while_it_is_read_is_read_whole():
    assert run_child(SNEAKY_RECORD, None) == [
        "a video id is a uuid.UUID, a UUID string or an int, not 'Sneaky'"
    ]
