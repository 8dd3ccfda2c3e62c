"""Building an index natively from columns, with no Python object per row.

`kelnor.build` takes a table: anything that offers the Arrow PyCapsule
stream interface (`__arrow_c_stream__`: pyarrow tables and record batch
readers, polars, pandas and DuckDB results) whose columns `term`, `video` and
`count` (or the columns that its arguments of those names name) hold the
rows. `build_columns` takes three columns, each one of:

- an Arrow column: anything with `__arrow_c_array__` (a pyarrow array) or
  `__arrow_c_stream__` (a chunked column: a pyarrow chunked array, a polars
  or pandas series), read in place, whatever its chunks;
- a numpy array: integers read in place (any width, either byte order),
  16-byte video ids as Arrow binaries over their bytes, strings and masked
  arrays through pyarrow, when it is installed; arrays of other values
  (objects, floats), and strings that pyarrow would cut at a NUL or fail on,
  take the record path;
- a sequence (a list, say).

The extension reads string, large string, string view and dictionary-encoded
terms; integer counts and integer video ids of any width; 16-byte fixed-size
binary, binary or binary view video ids (UUIDs) and UUID-string video ids.
When a column can be read natively only with pyarrow and pyarrow is missing,
or one column is a sequence, all three take the record path (kelnor.build
over their rows), which gives the same index.

The index is the one the record path builds from the same rows, byte for
byte, and a refused row is named by its number (from 0): "row 3: a term must
not be empty". A null (a masked numpy entry, a None in a pandas series) is
refused as such: "row 3: the term is null" natively, the record path's
message for None on the record path.
"""

from __future__ import annotations

import importlib
import sys
from collections.abc import Sequence
from types import ModuleType
from typing import Protocol, Union

from _kelnor import PrefixSearch, _build_from_columns, _RecordColumns

from kelnor.arrow_protocols import ArrowArrayExportable, ArrowStreamExportable
from kelnor.builder import DEFAULT_VIDEO_TOP_N, _built_natively, _check_u32



class NumpyArray(Protocol):
    """A numpy array, or what numpy makes one of."""

    def __array__(self) -> object: ...


Column = Union[ArrowArrayExportable, ArrowStreamExportable, NumpyArray, Sequence[object]]

_NAMES = ("terms", "video ids", "counts")
# The numpy kinds of values that each column (of _NAMES) reads natively: str terms;
# integer, UUID-string or 16-byte video ids; integer counts. Others (objects,
# floats) take the record path, which names their rows' faults.
_KINDS = ("U", "iuUS", "iu")
# The rows of a numpy str column checked at a time (_holds_nul_or_surrogate).
_ROWS_CHECKED_AT_ONCE = 1 << 14


def _optional_module(name: str) -> ModuleType | None:
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def _arrow_capsules(column: object) -> object | None:
    """The capsules of an Arrow column: one array, or the stream of a chunked one."""
    array = getattr(column, "__arrow_c_array__", None)
    if array is not None:
        capsules: object = array()
        return capsules
    stream = getattr(column, "__arrow_c_stream__", None)
    if stream is not None:
        capsule: object = stream()
        return capsule
    return None


def _through_pyarrow(column: object) -> object | None:
    """The Arrow capsules of `column` converted by pyarrow (nulls for masked
    numpy entries and missing pandas values), or None without pyarrow."""
    pyarrow = _optional_module("pyarrow")
    if pyarrow is None:
        return None
    return _arrow_capsules(pyarrow.array(column))


def _numpy_integers(column: object, numpy: ModuleType) -> object:
    """A numpy integer array as the extension reads it in place: contiguous,
    in native byte order."""
    array = numpy.ascontiguousarray(column)
    if not array.dtype.isnative:
        array = array.astype(array.dtype.newbyteorder("="))
    return array


def _native(column: object, kinds: str, name: str) -> object | None:
    """What the extension reads of `column`, or None when it takes the record
    path: an Arrow column as it is; a numpy array (or pandas series) of one of
    the numpy `kinds` the build reads, integers in place and the rest through
    pyarrow."""
    capsules = _arrow_capsules(column)
    if capsules is not None:
        return capsules
    if not type(column).__module__.startswith(("numpy", "pandas")):
        return None
    kind = _kind(column)
    if kind is None or kind not in kinds:
        return None
    dimensions = getattr(column, "ndim", 1)
    if dimensions != 1:
        raise TypeError(f"the {name} column must have one dimension, not {dimensions}")
    numpy = importlib.import_module("numpy")
    if isinstance(column, numpy.ndarray):
        if kind in "iu" and not isinstance(column, numpy.ma.MaskedArray):
            return _numpy_integers(column, numpy)
        if kind in "iu" and not column.dtype.isnative:
            # pyarrow reads no byte-swapped array; astype keeps the mask.
            column = column.astype(column.dtype.newbyteorder("="))
        if kind == "S":
            return _numpy_video_bytes(column, numpy)
        if kind == "U" and _holds_nul_or_surrogate(column, numpy):
            return None
    return _through_pyarrow(column)


def _kind(column: object) -> str | None:
    """The numpy kind of the values of a numpy or pandas column: texts ("U")
    for a pandas text dtype too, which pandas gives the kind of objects."""
    dtype = getattr(column, "dtype", None)
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(dtype, pandas.StringDtype):
        return "U"
    kind = getattr(dtype, "kind", None)
    return kind if isinstance(kind, str) else None


def _holds_nul_or_surrogate(column: object, numpy: ModuleType) -> bool:
    """Whether a numpy str array holds a NUL inside a text or a lone surrogate:
    pyarrow ends a text at its first NUL and fails, naming no row, on a
    surrogate, so such an array takes the record path, which refuses the row.
    Its code points are read a slice of rows at a time, so that the check's
    own arrays stay small beside a column of millions of terms."""
    texts = numpy.ma.getdata(column)
    texts = texts.astype(texts.dtype.newbyteorder("="), copy=False)
    width = texts.dtype.itemsize // 4
    for start in range(0, len(texts) if width else 0, _ROWS_CHECKED_AT_ONCE):
        rows = numpy.ascontiguousarray(texts[start : start + _ROWS_CHECKED_AT_ONCE])
        codes = rows.view(numpy.uint32).reshape(-1, width)
        # numpy pads a text with NULs after its end only: a NUL followed by
        # another code point is inside it.
        filled = codes != 0
        if (filled[:, 1:] > filled[:, :-1]).any() or ((codes - 0xD800) < 0x800).any():
            return True
    return False


def _numpy_video_bytes(column: object, numpy: ModuleType) -> object | None:
    """A numpy array of 16-byte video ids as Arrow 16-byte binaries over its
    own bytes, or None (the record path) for other widths or without pyarrow.
    Not through pyarrow.array, which ends a value at its first zero byte."""
    pyarrow = _optional_module("pyarrow")
    data = numpy.ascontiguousarray(numpy.ma.getdata(column))
    if pyarrow is None or data.dtype.itemsize != 16:
        return None
    mask = numpy.ma.getmaskarray(column)
    validity = pyarrow.py_buffer(numpy.packbits(~mask, bitorder="little")) if mask.any() else None
    array = pyarrow.FixedSizeBinaryArray.from_buffers(
        pyarrow.binary(16), len(data), [validity, pyarrow.py_buffer(data)]
    )
    return _arrow_capsules(array)


def _as_list(column: object, name: str) -> Sequence[object]:
    for method in ("tolist", "to_pylist", "to_list"):
        convert = getattr(column, method, None)
        if convert is not None:
            values: list[object] = convert()
            return values
    if isinstance(column, Sequence):
        return column
    raise TypeError(
        f"the {name} column must be an Arrow array or chunked array, a numpy array or a "
        f"sequence, not {type(column).__name__!r}"
    )


def _build_rows(
    terms: Sequence[object], videos: Sequence[object], counts: Sequence[object], video_top_n: int
) -> PrefixSearch:
    """The record path over the rows of three sequences, naming a refused row."""
    if not len(terms) == len(videos) == len(counts):
        raise ValueError(
            f"the columns differ in length: {len(terms)} terms, {len(videos)} video ids, "
            f"{len(counts)} counts"
        )
    gathered = _RecordColumns()
    gathered.extend(zip(terms, videos, counts), True)
    _check_u32(video_top_n, "video_top_n")
    return gathered.build(video_top_n)


def build_columns(
    terms: Column,
    videos: Column,
    counts: Column,
    video_top_n: int = DEFAULT_VIDEO_TOP_N,
    *,
    word_starts: bool = False,
) -> PrefixSearch:
    """The index of the rows (terms[k], videos[k], counts[k]); with `word_starts`,
    `suggest` completes a term (a phrase) from any of its words."""
    index = _build_columns(terms, videos, counts, video_top_n)
    return index._with_word_starts() if word_starts else index


def _build_columns(
    terms: Column, videos: Column, counts: Column, video_top_n: int
) -> PrefixSearch:
    native_terms, native_videos, native_counts = [
        _native(column, kinds, name)
        for column, kinds, name in zip((terms, videos, counts), _KINDS, _NAMES)
    ]
    if native_terms is not None and native_videos is not None and native_counts is not None:
        return _built_natively(
            lambda top_n: _build_from_columns(native_terms, native_videos, native_counts, top_n),
            video_top_n,
        )
    # A list, not a generator: PyPy reports an error raised while a generator
    # is unpacked as a failure to unpack it.
    term_list, video_list, count_list = [
        _as_list(column, name) for column, name in zip((terms, videos, counts), _NAMES)
    ]
    return _build_rows(term_list, video_list, count_list, video_top_n)
