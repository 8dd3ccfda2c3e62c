"""Static typing: the stubs of _kelnor match the module, and kelnor passes mypy --strict."""

from __future__ import annotations

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import child_environment, pypy_differs

ROOT = Path(__file__).resolve().parent.parent
STUBS = ROOT / "python"

pytestmark = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None, reason="mypy is not installed (CPython only)"
)


def mypy(*args: str, cwd: Path = ROOT) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", *args],
        cwd=cwd,
        env={**child_environment(), "MYPYPATH": str(STUBS)},
        capture_output=True,
        text=True,
    )


@pypy_differs("C methods carry no text signatures for stubtest to compare")
def test_stubs_match_the_module():
    allowlist = ROOT / "tests" / "stubtest_allowlist.txt"
    completed = mypy("mypy.stubtest", "_kelnor", "--allowlist", str(allowlist))
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_package_passes_strict_mypy():
    completed = mypy("mypy", "--strict", "-p", "kelnor")
    assert completed.returncode == 0, completed.stdout + completed.stderr


# Lines marked "error" must be the only ones mypy refuses: if the types were
# lost (Any), the wrong annotations would pass unnoticed.
USER_CODE = """
import uuid
import numpy as np
import kelnor
from _kelnor import PrefixSearch

index: PrefixSearch = kelnor.build([("cat", uuid.uuid4(), 3), ("car", 7, 1)])
terms: list[tuple[str, int, int]] = index.fuzzy_match("cat", max_dist=2, limit=None)
videos: list[tuple[str, float]] = index.fuzzy_match_video("cat", min_score=0.5)
data: kelnor.InternalDataV2 = kelnor.internal_data_v2([], video_top_n=3)
again: PrefixSearch = PrefixSearch.from_internal_data_v2(*data)
wrong_videos: list[tuple[str, str]] = index.fuzzy_match_video("cat")  # error
index.fuzzy_match(b"cat")  # error
kelnor.build([("cat", 1.5, 3)])  # error
columns: PrefixSearch = kelnor.build_columns(np.array(["cat"]), np.array([1]), np.array([3]))
flagged: list[tuple[str, int, int]] = index.suggest("ca", complete=np.bool_(True))
batch: list[list[tuple[str, int, int]]] = index.suggest_many(np.array(["ca"]))
index.suggest("ca", complete=1)  # error
"""


def test_user_code_sees_the_types(tmp_path):
    (tmp_path / "user.py").write_text(USER_CODE)
    # The checkout's cache, which the other runs share: a fresh one would have
    # mypy read the standard library's stubs again, which takes seconds.
    cache = str(ROOT / ".mypy_cache")
    completed = mypy("mypy", "--strict", "--cache-dir", cache, "user.py", cwd=tmp_path)
    expected = {n for n, line in enumerate(USER_CODE.splitlines(), 1) if line.endswith("# error")}
    refused = {
        int(line.split(":")[1]) for line in completed.stdout.splitlines() if ": error:" in line
    }
    assert refused == expected, completed.stdout
