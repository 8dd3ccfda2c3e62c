import os
import platform
import sys
import unicodedata

import pytest

ON_PYPY = platform.python_implementation() == "PyPy"


# The Unicode version of the index's table of word characters
# (src/index/text/word_characters.hpp).
WORD_TABLE_UNICODE = "14.0.0"
# Checks of the word splitter against the running interpreter's str.isalnum,
# which agrees with the table only where its Unicode database is the same.
same_unicode_as_the_word_table = pytest.mark.skipif(
    unicodedata.unidata_version != WORD_TABLE_UNICODE,
    reason=f"this interpreter's Unicode {unicodedata.unidata_version} is not the word table's "
    f"{WORD_TABLE_UNICODE}",
)


def child_environment() -> dict[str, str]:
    """The environment of a child process that imports what this one does."""
    return {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}


def pypy_differs(reason: str):
    """Skip a check of behaviour that the interpreter itself provides and that PyPy does differently."""
    return pytest.mark.skipif(ON_PYPY, reason=f"PyPy: {reason}")


def pytest_collection_modifyitems(items: list) -> None:
    """The memory tests run first, before the other tests' fixtures, caches
    and hypothesis data fill the heap, which every collection of theirs
    walks: late in a run the same tests take half as long again."""
    items.sort(key=lambda item: item.path.name != "test_leaks.py")
