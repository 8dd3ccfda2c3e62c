"""The video ids of an index: each distinct video gets a position.

An index stores its video ids in one of two forms, 16-byte UUIDs or unsigned
32-bit integers, so every id handed to one index must be of the same kind:
`uuid.UUID` objects and UUID strings (the ASCII forms that `uuid.UUID` reads)
are both UUIDs, `int`s are integers. The extension checks the ids of each
record (kelnor.builder).
"""

from __future__ import annotations

import uuid
from typing import Union

VideoId = Union[uuid.UUID, str, int]

U32_MAX = 2**32 - 1
