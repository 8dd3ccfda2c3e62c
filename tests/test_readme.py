"""The documentation: the README's set-up commands come first, CI runs its test
command, and its code examples and the scripts in examples/ run."""

from __future__ import annotations

import importlib.util
import os
import re
import subprocess
import sys
import types
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
BLOCKS = re.findall(r"^```(\w*)\n(.*?)^```$", README, flags=re.MULTILINE | re.DOTALL)

# The modules of the arrow extra, which PyPy goes without (pyarrow has no
# wheels for it): a block that imports one that is missing is not run.
OPTIONAL = {"numpy", "pyarrow"}

INSTALL_AND_DEMO = "python3 -m pip install . && kelnor demo"
TEST_COMMAND = "python3 -m pip install '.[test]' && python3 -m pytest"


def test_starts_with_the_two_set_up_commands():
    assert README.startswith(
        f"# kelnor\n\n```sh\n{INSTALL_AND_DEMO}\n```\n\n```sh\n{TEST_COMMAND}\n```\n"
    )


def test_ci_runs_the_readme_test_command():
    ci = (ROOT / ".ci" / "run").read_text(encoding="utf-8").replace(" --quiet", "")
    assert ci.count(TEST_COMMAND) == 2  # on CPython and on PyPy


def test_python_examples_run(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    # The blocks run as one module that pickle can find by name, so a process
    # pool can send the functions they define to its (forked) workers.
    module = types.ModuleType("readme")
    monkeypatch.setitem(sys.modules, "readme", module)
    namespace = module.__dict__
    examples = [code for language, code in BLOCKS if language == "python"]
    assert len(examples) >= 5
    for number, code in enumerate(examples, 1):
        imported = set(re.findall(r"^import (\w+)", code, flags=re.MULTILINE))
        if any(importlib.util.find_spec(name) is None for name in imported & OPTIONAL):
            continue
        try:
            exec(compile(code, f"README.md python block {number}", "exec"), namespace)
        except Exception:
            pytest.fail(f"README python block {number} failed:\n{code}")


# Run by a test of their own, with less work than they do from the command line.
TESTED_APART = {"dask_pipeline.py"}


@pytest.mark.parametrize(
    "script",
    sorted(path for path in (ROOT / "examples").glob("*.py") if path.name not in TESTED_APART),
    ids=lambda p: p.name,
)
def test_example_scripts_run(script):
    completed = subprocess.run(
        [sys.executable, str(script)],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout
