"""What an installed kelnor distribution holds: the module, its stubs, the package and its data."""

from __future__ import annotations

import importlib.metadata
import subprocess
from pathlib import Path

import pytest

import _kelnor
from kelnor import __version__


def distribution_under_test():
    """The installed kelnor distribution, if the _kelnor under test is the one it installed."""
    try:
        distribution = importlib.metadata.distribution("kelnor")
    except importlib.metadata.PackageNotFoundError:
        return None
    module = Path(_kelnor.__file__).resolve()
    for file in distribution.files or []:
        if Path(distribution.locate_file(file)).resolve() == module:
            return distribution
    return None


DISTRIBUTION = distribution_under_test()

pytestmark = pytest.mark.skipif(
    DISTRIBUTION is None, reason="the _kelnor under test was not installed by pip"
)


def test_installed_files():
    files = {file.as_posix() for file in DISTRIBUTION.files}
    for expected in [
        "_kelnor.pyi",
        "_kelnor-stubs/__init__.pyi",
        "kelnor/__init__.py",
        "kelnor/py.typed",
        "kelnor/words/sample.txt",
        "kelnor/words/LICENSE",
        "kelnor/server/page.html",
    ]:
        assert expected in files
    assert any(name.startswith("_kelnor.") and name.endswith(".so") for name in files)


def test_console_script_runs_the_command_line():
    [script] = [file for file in DISTRIBUTION.files if file.name == "kelnor" and file.parent.name == "bin"]
    done = subprocess.run(
        [str(DISTRIBUTION.locate_file(script)), "--version"], capture_output=True, text=True, timeout=60
    )
    assert (done.returncode, done.stdout, done.stderr) == (0, f"kelnor {__version__}\n", "")


def test_installed_version_is_the_source_tree_version():
    assert DISTRIBUTION.version == __version__


def test_installed_stubs_are_the_module_stubs():
    stub = DISTRIBUTION.locate_file("_kelnor.pyi")
    package_stub = DISTRIBUTION.locate_file("_kelnor-stubs/__init__.pyi")
    assert package_stub.read_text() == stub.read_text()
