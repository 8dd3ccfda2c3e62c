"""A typo-tolerant prefix search index for video search.

    import kelnor
    index = kelnor.build([("harry", 7, 3), ("harold", 9, 1)])
    index.fuzzy_match("harr")        # [('harry', 1, 1)]
    index.fuzzy_match_video("harr")  # [('7', 1.0)]
    index.suggest("har")             # [('harry', 0, 3), ('harold', 0, 1)]

`build` makes an index from (term, video id, count) records or from an Arrow
table, `build_columns` from three columns (see kelnor.columns), and `save` and
`load` keep one in a file; `PrefixSearch` is the index type of the extension
module `_kelnor`. Importing this package makes indexes picklable.
"""

from _kelnor import PrefixSearch

from kelnor import pickling
from kelnor.builder import (
    DEFAULT_VIDEO_TOP_N,
    IndexBuilder,
    InternalDataV2,
    Payload,
    Record,
    build,
    internal_data_v2,
)
from kelnor.columns import build_columns
from kelnor.folding import fold
from kelnor.index_file import IndexFileError, IndexFileInfo, file_info, load, save
from kelnor.video_table import VideoId

# The version, written here only: pyproject.toml reads it from this line.
__version__ = "0.1.0"

__all__ = [
    "DEFAULT_VIDEO_TOP_N",
    "IndexBuilder",
    "IndexFileError",
    "IndexFileInfo",
    "InternalDataV2",
    "Payload",
    "PrefixSearch",
    "Record",
    "VideoId",
    "build",
    "build_columns",
    "file_info",
    "fold",
    "internal_data_v2",
    "load",
    "save",
]

pickling.register()
