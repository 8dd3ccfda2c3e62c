"""The kelnor command: build, query and demo, their output and their failures."""

from __future__ import annotations

import json
import os
import subprocess
import sys
import uuid

import pytest

import kelnor
from kelnor.cli import main

RECORDS = [
    ("harry", 7, 3),
    ("harold", 9, 1),
    ("hare", 7, 2),
    ("hare", 8, 6),
    ("été", 12, 5),
]
DAMAGED_IMAGE = bytes([1, 0, 1, 0, 1, 5, 1, 0, 0, 0, 0, 1, 0])  # node 0's child 5 does not exist


def tsv(records) -> str:
    return "".join(f"{term}\t{video}\t{count}\n" for term, video, count in records)


def run(capsys, *argv) -> tuple:
    """(exit status, stdout, stderr) of `kelnor argv`."""
    try:
        status = main([str(arg) for arg in argv])
    except SystemExit as exit:  # argparse refuses the command line
        status = exit.code
    captured = capsys.readouterr()
    return status, captured.out, captured.err


@pytest.fixture
def records_file(tmp_path):
    path = tmp_path / "records.tsv"
    path.write_text(tsv(RECORDS), encoding="utf-8")
    return path


@pytest.fixture
def index_file(tmp_path, records_file, capsys):
    path = tmp_path / "index.bin"
    assert run(capsys, "build", records_file, "-o", path)[0] == 0
    return path


# -------------------------------------------------------------------- build


def test_build_writes_the_image_of_the_records(capsys, tmp_path, records_file):
    output = tmp_path / "out.bin"
    status, out, err = run(capsys, "build", records_file, "-o", output, "--video-top-n", "2")
    assert (status, err) == (0, "")
    assert output.read_bytes() == kelnor.build(RECORDS, video_top_n=2).to_bytes()
    assert out == f"{output}: 4 terms, 4 videos, 13 nodes, {output.stat().st_size:,} bytes\n"


def test_build_reads_uuids_blank_lines_and_crlf(capsys, tmp_path):
    video = uuid.UUID(int=12345)
    path = tmp_path / "records.tsv"
    path.write_bytes(f"cat\t{video}\t2\r\n\r\ncar\t {video} \t 3 \n".encode())
    output = tmp_path / "index.bin"
    assert run(capsys, "build", path, "-o", output)[0] == 0
    assert output.read_bytes() == kelnor.build([("cat", video, 2), ("car", video, 3)]).to_bytes()


@pytest.mark.parametrize(
    "content, message",
    [
        (
            b"cat\t7\t1\ndog\t7\n",
            "{path}:2: expected 3 tab-separated fields (term, video id, count), found 2",
        ),
        (
            b"a\tb\tc\td\n",
            "{path}:1: expected 3 tab-separated fields (term, video id, count), found 4",
        ),
        (b"cat\t7\tmany\n", "{path}:1: count 'many' is not a whole number"),
        (b"cat\t7\t-1\n", "{path}:1: count '-1' is not a whole number"),
        (b"cat\t7\t4294967296\n", "{path}:1: count 4294967296 is outside 0..4294967295"),
        (b"cat\tx7\t1\n", "{path}:1: video id 'x7' is not a UUID string (give integer ids as int)"),
        (
            b"cat\t7\t1\n\ncar\t00000000-0000-0000-0000-000000000001\t1\n",
            "{path}:3: video id '00000000-0000-0000-0000-000000000001' is a UUID, "
            "but this index's earlier video ids are integers; an index holds one kind of video id",
        ),
        (b"\t7\t1\n", "{path}:1: a term must not be empty"),
        (b"cat\t7\t1\nc\xffat\t7\t1\n", "{path}:2: not UTF-8 text (invalid start byte)"),
    ],
)
def test_build_reports_the_bad_line(capsys, tmp_path, content, message):
    path = tmp_path / "records.tsv"
    path.write_bytes(content)
    output = tmp_path / "index.bin"
    status, out, err = run(capsys, "build", path, "-o", output)
    assert (status, out) == (1, "")
    assert err == "kelnor: " + message.format(path=path) + "\n"
    assert not output.exists()


def test_build_reports_missing_records(capsys, tmp_path):
    missing = tmp_path / "missing.tsv"
    status, _, err = run(capsys, "build", missing, "-o", tmp_path / "index.bin")
    assert (status, err) == (1, f"kelnor: cannot read {missing}: No such file or directory\n")


def test_build_reports_an_unwritable_output(capsys, tmp_path, records_file):
    output = tmp_path / "no" / "index.bin"
    status, _, err = run(capsys, "build", records_file, "-o", output)
    assert (status, err) == (1, f"kelnor: cannot write {output}: No such file or directory\n")


@pytest.mark.parametrize(
    "flag, shown", [("--progress", True), ("--no-progress", False), (None, False)]
)
def test_progress_bar(capsys, tmp_path, records_file, flag, shown):
    argv = ["build", records_file, "-o", tmp_path / "index.bin"] + ([flag] if flag else [])
    status, _, err = run(capsys, *argv)
    assert status == 0
    if shown:
        assert err.startswith(f"\rreading {records_file} [")
        assert err.endswith("] 100%\n")
    else:
        assert err == ""  # standard error is not a terminal here


# -------------------------------------------------------------------- query


@pytest.mark.parametrize(
    "options, method, args",
    [
        ([], "fuzzy_match", ("harr", 1, None)),
        (["--max-dist", "2", "--limit", "2"], "fuzzy_match", ("harr", 2, 2)),
        (["--videos"], "fuzzy_match_video", ("harr", 1, None)),
        (["--videos", "--max-dist", "0", "--limit", "1"], "fuzzy_match_video", ("harr", 0, 1)),
    ],
)
def test_query_json_gives_the_method_answers(capsys, index_file, options, method, args):
    status, out, err = run(capsys, "query", index_file, "harr", "--json", *options)
    assert (status, err) == (0, "")
    expected = getattr(kelnor.build(RECORDS), method)(*args)
    if method == "fuzzy_match":
        assert json.loads(out) == [{"term": t, "distance": d} for t, _, d in expected]
    else:
        assert json.loads(out) == [{"video": v, "score": s} for v, s in expected]


def test_query_tables(capsys, index_file):
    assert run(capsys, "query", index_file, "har", "--max-dist", "2")[1] == (
        "term   distance\nhare          1\nharry         2\n"
    )
    assert run(capsys, "query", index_file, "hare", "--videos", "--max-dist", "0")[1] == (
        "video   score\n8      0.7500\n7      0.2500\n"
    )
    assert run(capsys, "query", index_file, "zzz")[1] == "no matches\n"
    assert run(capsys, "query", index_file, "zzz", "--json")[1] == "[]\n"


def test_query_json_keeps_text_readable(capsys, index_file):
    out = run(capsys, "query", index_file, "ete", "--json", "--max-dist", "2")[1]
    assert out == '[{"term": "été", "distance": 2}]\n'


@pytest.mark.parametrize(
    "image, message",
    [
        (b"", "{path} is not an index image (decode error: UnexpectedEnd { additional: 1 })"),
        (
            DAMAGED_IMAGE,
            "{path} is a damaged index (index out of bounds: the len is 1 but the index is 5)",
        ),
    ],
)
def test_query_reports_bad_images(capsys, tmp_path, image, message):
    path = tmp_path / "bad.bin"
    path.write_bytes(image)
    status, out, err = run(capsys, "query", path, "a")
    assert (status, out) == (1, "")
    assert err.endswith("kelnor: " + message.replace("{path}", str(path)) + "\n")


def test_query_reports_a_missing_index(capsys, tmp_path):
    missing = tmp_path / "missing.bin"
    status, _, err = run(capsys, "query", missing, "a")
    assert (status, err) == (1, f"kelnor: cannot read {missing}: No such file or directory\n")


@pytest.mark.parametrize(
    "argv",
    [
        [],
        ["build", "records.tsv"],
        ["query", "index.bin"],
        ["query", "index.bin", "a", "--max-dist", "-1"],
        ["query", "index.bin", "a", "--limit", "4294967296"],
        ["build", "records.tsv", "-o", "x", "--video-top-n", "many"],
        ["frobnicate"],
    ],
)
def test_malformed_command_lines_exit_2(capsys, argv):
    status, out, err = run(capsys, *argv)
    assert (status, out) == (2, "")
    assert "usage: kelnor" in err


# --------------------------------------------------------------------- demo


def test_demo_on_the_shipped_sample(capsys):
    status, out, err = run(capsys, "demo")
    assert (status, err) == (0, "")
    assert out.startswith(
        "Indexed 37,372 words from the sample of English words shipped with kelnor"
    )
    assert out.count("fuzzy_match(") == 4
    assert out.count("fuzzy_match_video(") == 4
    assert out.rstrip().endswith("and restored it: the same answers.")
    assert "none" not in out  # every typo finds its word again


def untimed(out: str) -> list:
    return [line for line in out.splitlines() if " ms" not in line and " s (" not in line]


def test_demo_with_a_word_list_is_repeatable(capsys, tmp_path):
    words = tmp_path / "words.txt"
    words.write_text("cathedral\n\ncathedrals\ncathode\ncathedral\n", encoding="utf-8")
    status, out, _ = run(capsys, "demo", "--words", words, "--seed", "3")
    assert status == 0
    assert out.startswith(f"Indexed 3 words from {words}, each linked to 1 to 3 of ")
    assert "cathedral" in out
    again = run(capsys, "demo", "--words", words, "--seed", "3")[1]
    assert untimed(again) == untimed(out)


@pytest.mark.parametrize(
    "content, message",
    [
        (b"\n \n", "{path} holds no words"),
        (
            b"fine\nbad\x00word\n",
            "{path}:2: term 'bad\\x00word' holds '\\x00', which an index cannot hold",
        ),
        (b"fine\n\xc3(\n", "{path}:2: not UTF-8 text (invalid continuation byte)"),
    ],
)
def test_demo_reports_bad_word_lists(capsys, tmp_path, content, message):
    path = tmp_path / "words.txt"
    path.write_bytes(content)
    status, _, err = run(capsys, "demo", "--words", path)
    assert (status, err) == (1, "kelnor: " + message.format(path=path) + "\n")


def test_demo_reports_a_missing_word_list(capsys, tmp_path):
    missing = tmp_path / "missing.txt"
    status, _, err = run(capsys, "demo", "--words", missing)
    assert (status, err) == (1, f"kelnor: cannot read {missing}: No such file or directory\n")


def test_module_entry_point():
    # The same entry as the console script, in a fresh interpreter.
    completed = subprocess.run(
        [sys.executable, "-m", "kelnor", "demo"],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert completed.returncode == 0, completed.stderr
    assert "the same answers" in completed.stdout
