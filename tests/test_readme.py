"""The documentation: the README's set-up commands come first, CI runs its test
command, the code examples of the README and of docs/ run, every link between
the documents leads somewhere, and the scripts in examples/ run."""

from __future__ import annotations

import importlib.util
import re
import subprocess
import sys
import traceback
import types
from pathlib import Path
from typing import Dict, List, Tuple

import pytest

from conftest import child_environment

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
FENCED = re.compile(r"^```(\w*)\n(.*?)^```$", flags=re.MULTILINE | re.DOTALL)

# The documents a reader is sent to, by their path from the root.
DOCUMENTS = ["README.md", "HACKING.md", "bench/RESULTS.md"] + sorted(
    path.relative_to(ROOT).as_posix() for path in (ROOT / "docs").glob("*.md")
)


def python_blocks(document: str) -> List[str]:
    text = (ROOT / document).read_text(encoding="utf-8")
    return [code for language, code in FENCED.findall(text) if language == "python"]


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


def test_readme_stays_short():
    assert README.count("\n") <= 300


def test_readme_opens_with_a_first_suggest():
    assert ".suggest(" in python_blocks("README.md")[0]


@pytest.mark.parametrize(
    "document", [document for document in DOCUMENTS if python_blocks(document)]
)
def test_python_examples_run(document, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    # A document's blocks run in order as one module that pickle can find by
    # name, so a process pool can send the functions they define to its
    # (forked) workers.
    module_name = re.sub(r"\W", "_", document)
    module = types.ModuleType(module_name)
    monkeypatch.setitem(sys.modules, module_name, module)
    namespace = module.__dict__
    for number, code in enumerate(python_blocks(document), 1):
        imported = set(re.findall(r"^import (\w+)", code, flags=re.MULTILINE))
        if any(importlib.util.find_spec(name) is None for name in imported & OPTIONAL):
            continue
        try:
            exec(compile(code, f"{document} python block {number}", "exec"), namespace)
        except Exception:
            failure = traceback.format_exc()
            pytest.fail(f"{document} python block {number} failed:\n{code}\n{failure}")


def test_the_manual_has_its_examples():
    with_examples = {document for document in DOCUMENTS if python_blocks(document)}
    assert {
        "README.md",
        "docs/building.md",
        "docs/decisions.md",
        "docs/files.md",
        "docs/reference.md",
        "docs/suggest.md",
        "docs/threads.md",
    } <= with_examples


def headings(text: str) -> List[Tuple[int, str]]:
    """The level of each heading and the anchor that a rendered Markdown page
    gives it: lower case, punctuation dropped, spaces as hyphens, repeats
    numbered."""
    found: List[Tuple[int, str]] = []
    seen: Dict[str, int] = {}
    for hashes, title in re.findall(r"^(#+) (.*)$", FENCED.sub("", text), flags=re.MULTILINE):
        anchor = re.sub(r"[^\w\- ]", "", title.strip().lower()).replace(" ", "-")
        repeats = seen.get(anchor, 0)
        seen[anchor] = repeats + 1
        found.append((len(hashes), anchor if repeats == 0 else f"{anchor}-{repeats}"))
    return found


def test_heading_anchors_follow_the_rendered_form():
    text = "# Title\n```sh\n# not a heading\n```\n## `max_dist` is 1, a query's\n### Title\n"
    assert headings(text) == [(1, "title"), (2, "max_dist-is-1-a-querys"), (3, "title-1")]


def local_links(document: str) -> List[Tuple[str, str]]:
    text = FENCED.sub("", (ROOT / document).read_text(encoding="utf-8"))
    targets = re.findall(r"\]\(([^)\s]+)\)", text) + re.findall(r'<img src="([^"]+)"', text)
    # Links with a scheme (https:, mailto:) leave the repository.
    local = sorted(target for target in set(targets) if not re.match(r"[a-z]+:", target))
    return [(document, target) for target in local]


@pytest.mark.parametrize(
    "document, target",
    [link for document in DOCUMENTS for link in local_links(document)],
    ids=lambda value: value,
)
def test_links_lead_somewhere(document, target):
    path, _, anchor = target.partition("#")
    destination = (ROOT / document).parent / path if path else ROOT / document
    assert destination.is_file(), f"{document} links to {target}, which does not exist"
    if anchor:
        anchors = [anchor for _, anchor in headings(destination.read_text(encoding="utf-8"))]
        assert anchor in anchors, f"{document} links to {target}; {path or document} has {anchors}"


def test_every_decision_is_listed_in_the_readme():
    text = (ROOT / "docs" / "decisions.md").read_text(encoding="utf-8")
    decisions = [anchor for level, anchor in headings(text) if level == 3]
    listed = {target for _, target in local_links("README.md")}
    assert len(decisions) >= 20
    assert [a for a in decisions if f"docs/decisions.md#{a}" not in listed] == []


BENCH_MENTIONED = re.compile(r"bench/(\w+\.py)")


def test_results_name_every_benchmark_and_only_those():
    """Each script of bench/ that runs as a program has its command and
    figures in RESULTS.md, and every script RESULTS.md names is there."""
    results = (ROOT / "bench" / "RESULTS.md").read_text(encoding="utf-8")
    named = set(BENCH_MENTIONED.findall(results))
    programs = {
        path.name
        for path in (ROOT / "bench").glob("*.py")
        if 'if __name__ == "__main__":' in path.read_text(encoding="utf-8")
    }
    assert programs  # the glob found the scripts
    assert sorted(programs - named) == []
    assert sorted(name for name in named if not (ROOT / "bench" / name).exists()) == []


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
        env=child_environment(),
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout
