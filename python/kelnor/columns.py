"""Building an index natively from columns, with no Python object per row.

`kelnor.build` takes a table: anything that offers the Arrow PyCapsule
stream interface (`__arrow_c_stream__`: pyarrow tables and record batch
readers, polars and DuckDB results, pandas through pyarrow) with columns
`term`, `video` and `count`; `build_columns` takes three columns: Arrow
arrays (`__arrow_c_array__`), numpy arrays or plain sequences. The extension reads Arrow data in place: string, large
string and string view terms; integer counts and integer video ids of any
width; 16-byte fixed-size binary or UUID-string video ids. numpy integer
arrays are read in place too; numpy string arrays are converted to Arrow
strings when pyarrow is installed. Any other column (a list, say) takes the
record path for all three, which gives the same index, only slower.

The index is the one the record path builds from the same rows, byte for
byte, and a refused row is named by its number (from 0): "row 3: a term must
not be empty".
"""

from __future__ import annotations

import importlib
from collections.abc import Sequence
from typing import Union

from _kelnor import PrefixSearch, build_from_columns

from kelnor.arrow_protocols import ArrowArrayExportable
from kelnor.builder import DEFAULT_VIDEO_TOP_N, IndexBuilder


Column = Union[ArrowArrayExportable, Sequence[object]]


def _pyarrow_array(column: object) -> ArrowArrayExportable | None:
    """`column` as a pyarrow array, when pyarrow is installed and can convert it."""
    try:
        pyarrow = importlib.import_module("pyarrow")
    except ImportError:
        return None
    array: ArrowArrayExportable = pyarrow.array(column)
    return array


def _native(column: object, integers_in_place: bool) -> object | None:
    """What the extension reads of `column` (the capsules of an Arrow array, or a
    numpy array of integers), or None when it takes the record path."""
    if hasattr(column, "__arrow_c_array__"):
        capsules: tuple[object, object] = column.__arrow_c_array__()
        return capsules
    kind = getattr(getattr(column, "dtype", None), "kind", None)
    if integers_in_place and kind in ("i", "u"):
        # The extension reads a buffer in place only when it is contiguous.
        contiguous = getattr(getattr(column, "flags", None), "c_contiguous", False)
        return column if contiguous else column.copy()  # type: ignore[attr-defined]
    if kind == "U":
        array = _pyarrow_array(column)
        return None if array is None else array.__arrow_c_array__()
    return None


def _as_list(column: object) -> Sequence[object]:
    for name in ("tolist", "to_pylist"):
        convert = getattr(column, name, None)
        if convert is not None:
            values: list[object] = convert()
            return values
    assert isinstance(column, Sequence)
    return column


def _build_rows(
    terms: Sequence[object], videos: Sequence[object], counts: Sequence[object], video_top_n: int
) -> PrefixSearch:
    """The record path over the rows of three sequences, naming a refused row."""
    if not len(terms) == len(videos) == len(counts):
        raise ValueError(
            f"the columns differ in length: {len(terms)} terms, {len(videos)} video ids, "
            f"{len(counts)} counts"
        )
    builder = IndexBuilder()
    for row, (term, video, count) in enumerate(zip(terms, videos, counts)):
        try:
            builder.add(term, video, count)  # type: ignore[arg-type]
        except (TypeError, ValueError) as error:
            raise type(error)(f"row {row}: {error}") from None
    return builder.build(video_top_n)


def build_columns(
    terms: Column, videos: Column, counts: Column, video_top_n: int = DEFAULT_VIDEO_TOP_N
) -> PrefixSearch:
    """The index of the rows (terms[k], videos[k], counts[k])."""
    native_terms = _native(terms, integers_in_place=False)
    native_videos = _native(videos, integers_in_place=True)
    native_counts = _native(counts, integers_in_place=True)
    if native_terms is not None and native_videos is not None and native_counts is not None:
        return build_from_columns(native_terms, native_videos, native_counts, video_top_n)
    return _build_rows(_as_list(terms), _as_list(videos), _as_list(counts), video_top_n)
