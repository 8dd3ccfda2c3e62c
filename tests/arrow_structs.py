"""Arrow C data structs made by hand, as a producer in any language may hand
them over: every field as the test sets it, with buffers that Python owns.

`column(type, length, buffers, ...)` gives the (schema, array) capsules that
`_kelnor._build_from_columns` takes, the schema exported by pyarrow and the
array laid out here, so that a test can break any part of its layout.
"""

from __future__ import annotations

import ctypes
from typing import Optional, Sequence

_Release = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


class ArrowArray(ctypes.Structure):
    pass


ArrowArray._fields_ = [
    ("length", ctypes.c_int64),
    ("null_count", ctypes.c_int64),
    ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))),
    ("dictionary", ctypes.POINTER(ArrowArray)),
    ("release", _Release),
    ("private_data", ctypes.c_void_p),
]

# The schema struct's size: seven pointer-sized fields, a release callback
# and private data.
_SCHEMA_SIZE = 9 * 8


@_Release
def _mark_released(address: Optional[int]) -> None:
    """The release callback: the buffers are Python's, so only the mark."""
    assert address is not None
    ArrowArray.from_address(address).release = _Release()


_PyCapsule_New = ctypes.pythonapi.PyCapsule_New
_PyCapsule_New.restype = ctypes.py_object
_PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]

# Everything a capsule points into, kept alive for the test process.
_kept: list = []


def _capsule(address: int, name: bytes) -> object:
    _kept.append(name)
    return _PyCapsule_New(address, name, None)


def column(
    arrow_type,
    length: int,
    buffers: Sequence[Optional[bytes]],
    *,
    offset: int = 0,
    null_count: int = 0,
    n_buffers: Optional[int] = None,
    n_children: int = 0,
    no_buffer_list: bool = False,
) -> tuple[object, object]:
    """The capsules of an array of `arrow_type` (a pyarrow type) with these
    fields; None in `buffers` is a null buffer pointer."""
    schema = ctypes.create_string_buffer(_SCHEMA_SIZE)
    arrow_type._export_to_c(ctypes.addressof(schema))
    held = [ctypes.create_string_buffer(data, max(len(data), 1)) if data is not None else None
            for data in buffers]
    pointers = (ctypes.c_void_p * max(len(held), 1))(
        *[ctypes.addressof(data) if data is not None else None for data in held])
    array = ArrowArray(
        length=length,
        null_count=null_count,
        offset=offset,
        n_buffers=len(held) if n_buffers is None else n_buffers,
        n_children=n_children,
        buffers=None if no_buffer_list else ctypes.cast(pointers, ctypes.POINTER(ctypes.c_void_p)),
        release=_mark_released,
    )
    _kept.extend([schema, held, pointers, array])
    return (_capsule(ctypes.addressof(schema), b"arrow_schema"),
            _capsule(ctypes.addressof(array), b"arrow_array"))
