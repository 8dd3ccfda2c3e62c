import platform

import pytest

ON_PYPY = platform.python_implementation() == "PyPy"


def pypy_differs(reason: str):
    """Skip a check of behaviour that the interpreter itself provides and that PyPy does differently."""
    return pytest.mark.skipif(ON_PYPY, reason=f"PyPy: {reason}")
