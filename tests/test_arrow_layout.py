"""Arrow arrays that break their type's layout, as any producer may hand them
over: each is refused with ValueError naming the column (and, for offsets
that point outside the data, the row) before a buffer is read out of bounds.

The arrays are laid out by hand (arrow_structs.py) and built in one child
interpreter, so that a crash fails these tests instead of ending the run.
"""

from __future__ import annotations

import pytest

from test_resource_bounds import run_child

pytest.importorskip("pyarrow", reason="pyarrow is not installed (it has no wheels for PyPy)")

ROW_OUTSIDE = "row {}: the term lies outside its column's data"


def i32(*values: int) -> bytes:
    return b"".join(value.to_bytes(4, "little", signed=True) for value in values)


def i64(*values: int) -> bytes:
    return b"".join(value.to_bytes(8, "little", signed=True) for value in values)


TWO_INTS = ("int64()", 2, [None, i64(1, 2)], {})
UUID_TEXT = b"12345678-1234-5678-1234-567812345678"

# (case, terms, videos, counts, message): each column as (pyarrow type,
# length, buffers, other fields of the array struct).
CASES = [
    ("string offsets past the data", ("string()", 2, [None, i32(0, 100_000_000, 6), b"abcdef"], {}),
     TWO_INTS, TWO_INTS, ROW_OUTSIDE.format(0)),
    ("large_string offsets past the data",
     ("large_string()", 2, [None, i64(0, 100_000_000, 6), b"abcdef"], {}),
     TWO_INTS, TWO_INTS, ROW_OUTSIDE.format(0)),
    ("offsets that go down", ("string()", 3, [None, i32(0, 2, 1, 3), b"abc"], {}),
     ("int64()", 3, [None, i64(1, 2, 3)], {}), ("int64()", 3, [None, i64(1, 2, 3)], {}),
     ROW_OUTSIDE.format(1)),
    ("a negative first offset", ("string()", 2, [None, i32(-1, 1, 2), b"ab"], {}),
     TWO_INTS, TWO_INTS, ROW_OUTSIDE.format(0)),
    ("an array offset past the last offset",
     ("string()", 2, [None, i32(0, 1, 5, 2), b"ab"], {"offset": 1}),
     TWO_INTS, TWO_INTS, ROW_OUTSIDE.format(0)),
    ("UUID strings past their data", ("string()", 3, [None, i32(0, 1, 2, 3), b"abc"], {}),
     ("string()", 3, [None, i32(0, 36, 80, 72), UUID_TEXT * 2], {}),
     ("int64()", 3, [None, i64(1, 2, 3)], {}), "row 1: the video id lies outside its column's data"),
    ("a negative length", ("string()", -1, [None, i32(0), b""], {}), TWO_INTS, TWO_INTS,
     "the terms column has a negative length or offset (length -1, offset 0)"),
    ("a negative offset", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {"offset": -3}),
     TWO_INTS, TWO_INTS, "the terms column has a negative length or offset (length 2, offset -3)"),
    ("more entries than memory", ("string()", 2**62, [None, i32(0), b""], {}), TWO_INTS, TWO_INTS,
     "the terms column has more entries than memory can hold (length 4611686018427387904, "
     "offset 0)"),
    ("an offset and length that overflow",
     ("string()", 2**62, [None, i32(0), b""], {"offset": 2**63 - 2**61}), TWO_INTS, TWO_INTS,
     "the terms column has more entries than memory can hold (length 4611686018427387904, "
     "offset 6917529027641081856)"),
    ("a string without its data buffer", ("string()", 2, [None, i32(0, 1, 2)], {}),
     TWO_INTS, TWO_INTS, "the terms column has 2 buffers where string has 3"),
    ("integers with a third buffer", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {}),
     ("int64()", 2, [None, i64(1, 2), b""], {}), TWO_INTS,
     "the video ids column has 3 buffers where int64 has 2"),
    ("a string view without its sizes", ("string_view()", 2, [None, bytes(32)], {}),
     TWO_INTS, TWO_INTS, "the terms column has 2 buffers where string_view has at least 3"),
    ("16-byte UUIDs with one buffer", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {}),
     ("binary(16)", 2, [None], {}), TWO_INTS,
     "the video ids column has 1 buffer where fixed_size_binary(16) has 2"),
    ("no list of buffers", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {"no_buffer_list": True}),
     TWO_INTS, TWO_INTS, "the terms column has 3 buffers but no list of them"),
    ("a child", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {"n_children": 1}),
     TWO_INTS, TWO_INTS, "the terms column has 1 child where string has none"),
    ("more nulls than rows", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {}), TWO_INTS,
     ("int64()", 2, [b"\x00", i64(1, 2)], {"null_count": 3}),
     "the counts column counts 3 nulls in 2 rows"),
    ("a null count below -1", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {"null_count": -2}),
     TWO_INTS, TWO_INTS, "the terms column counts -2 nulls in 2 rows"),
    ("nulls without a bitmap", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {"null_count": 1}),
     TWO_INTS, TWO_INTS, "the terms column counts 1 null but has no validity bitmap"),
    ("integers without their values", ("string()", 2, [None, i32(0, 1, 2), b"ab"], {}),
     TWO_INTS, ("uint32()", 2, [None, None], {}), "the counts column has no buffer of its 2 rows"),
    ("strings without their characters", ("string()", 2, [None, i32(0, 1, 2), None], {}),
     TWO_INTS, TWO_INTS, "the terms column has no data buffer for its 2 bytes"),
    ("a string view without its sizes buffer",
     ("string_view()", 2, [None, bytes(32), b"x" * 20, None], {}), TWO_INTS, TWO_INTS,
     "the terms column has no buffer of its data buffers' sizes"),
    ("a string view without a data buffer",
     ("string_view()", 2, [None, bytes(32), None, i64(20)], {}), TWO_INTS, TWO_INTS,
     "the terms column has no data buffer 0 for its 20 bytes"),
    # Buffers that no row reads may be left out.
    ("empty strings without characters", ("string()", 1, [None, i32(0, 0), None], {}),
     ("int64()", 1, [None, i64(1)], {}), ("int64()", 1, [None, i64(1)], {}),
     "row 0: a term must not be empty"),
    ("no rows and no buffers", ("string()", 0, [None, None, None], {}),
     ("int64()", 0, [None, None], {}), ("int64()", 0, [None, None], {}), None),
]

CHILD = """
import ast, sys
import pyarrow as pa
import _kelnor
from arrow_structs import column

def made(spec):
    arrow_type, length, buffers, fields = spec
    return column(eval("pa." + arrow_type), length, buffers, **fields)

for terms, videos, counts in ast.literal_eval(sys.stdin.read()):
    try:
        built = _kelnor._build_from_columns(made(terms), made(videos), made(counts), 5)
        print(repr(("ok", built.to_bytes())), flush=True)
    except (TypeError, ValueError) as error:
        print(repr((type(error).__name__, str(error))), flush=True)
"""


@pytest.fixture(scope="module")
def outcomes() -> dict:
    """Each case's outcome, all built in one child interpreter."""
    results = run_child(CHILD, [case[1:4] for case in CASES], timeout=120)
    return {case[0]: result for case, result in zip(CASES, results)}


@pytest.mark.parametrize("case, message", [(case[0], case[4]) for case in CASES],
                         ids=[case[0] for case in CASES])
def test_an_array_that_breaks_its_layout_is_refused(outcomes, case, message):
    if message is None:
        import kelnor

        assert outcomes[case] == ("ok", kelnor.build([]).to_bytes())
    else:
        assert outcomes[case] == ("ValueError", message)


TABLE_CHILD = """
import sys
import numpy as np
import pyarrow as pa
import kelnor

for term_type, offsets in [(pa.string(), np.int32), (pa.large_string(), np.int64)]:
    terms = pa.Array.from_buffers(term_type, 2, [
        None, pa.py_buffer(np.array([0, 100_000_000, 6], offsets).tobytes()),
        pa.py_buffer(b"abcdef")])
    for build in (lambda: kelnor.build_columns(terms, np.array([1, 2]), np.array([1, 1])),
                  lambda: kelnor.build(pa.table({"term": terms, "video": [1, 2], "count": [1, 1]}))):
        try:
            build()
            print(repr("built"))
        except ValueError as error:
            print(repr(str(error)), flush=True)
"""


def test_offsets_past_the_data_from_pyarrow_are_refused_by_row():
    assert run_child(TABLE_CHILD, None, timeout=120) == [ROW_OUTSIDE.format(0)] * 4
