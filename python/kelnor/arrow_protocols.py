"""The Arrow PyCapsule interfaces through which tables and columns reach the extension."""

from __future__ import annotations

from typing import Protocol


class ArrowStreamExportable(Protocol):
    """A table: pyarrow tables and record batch readers, polars and DuckDB results, ..."""

    def __arrow_c_stream__(self, requested_schema: object = None) -> object: ...


class ArrowArrayExportable(Protocol):
    """A column: pyarrow arrays, and the arrays of other Arrow libraries."""

    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]: ...
