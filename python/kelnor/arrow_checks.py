"""pyarrow's own check of its arrays and tables, before the extension reads them.

The Arrow C interfaces hand over buffers without their sizes, so the
extension takes the sizes that an array's length and offset promise (see
docs/building.md). pyarrow knows the sizes of its own buffers: its cheap
check (no pass over the rows) compares them with those promises, and so
closes that gap for pyarrow's arrays, chunked arrays, record batches and
tables. Objects of other libraries are left to the extension's checks.
"""

from __future__ import annotations

import sys

from kelnor.arrow_protocols import ArrowArrayExportable, ArrowStreamExportable


def _check_pyarrow_object(data: object, what: str) -> None:
    """ValueError naming `what` when `data` is a pyarrow object whose buffers
    are smaller than its length and offset promise."""
    pyarrow = sys.modules.get("pyarrow")
    validate = getattr(data, "validate", None)
    if pyarrow is None or validate is None or not type(data).__module__.startswith("pyarrow"):
        return
    try:
        validate()
    except pyarrow.ArrowInvalid as error:
        raise ValueError(f"{what} breaks its type's layout: {error}") from None


def array_capsules(column: ArrowArrayExportable, what: str) -> tuple[object, object]:
    """The (schema, array) capsules of a column, pyarrow's checked first."""
    _check_pyarrow_object(column, what)
    return column.__arrow_c_array__()


def stream_capsule(table: ArrowStreamExportable) -> object:
    """The stream capsule of a table, pyarrow's checked first."""
    _check_pyarrow_object(table, "the table")
    return table.__arrow_c_stream__()
