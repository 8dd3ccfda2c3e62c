"""The kelnor command: build, query and demo, their output and their failures."""

from __future__ import annotations

import gzip
import importlib.metadata
import io
import json
import os
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import textwrap
import uuid

import pytest

import kelnor
from kelnor.cli.main import main
from kelnor import __version__
from conftest import child_environment
from model_index_file import file_of


def saved(index: kelnor.PrefixSearch) -> bytes:
    """The index file that kelnor.save writes of `index`."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "index.kelnor")
        kelnor.save(index, path)
        with open(path, "rb") as file:
            return file.read()


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


def run_child(*argv, **options) -> subprocess.CompletedProcess:
    """`python -m kelnor argv` in a fresh interpreter, or with `script=` that script
    (which reads the command line from sys.argv) instead of -m kelnor."""
    script = options.pop("script", None)
    command = ["-c", script] if script else ["-m", "kelnor"]
    env = {**child_environment(), **options.pop("env", {})}
    return subprocess.run(
        [sys.executable, *command, *map(str, argv)],
        capture_output=True,
        text=True,
        env=env,
        timeout=300,
        **options,
    )


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
    assert output.read_bytes() == saved(kelnor.build(RECORDS, video_top_n=2))
    assert out == f"{output}: 4 terms, 4 videos, 13 nodes, {output.stat().st_size:,} bytes\n"


def test_build_reads_uuids_blank_lines_and_crlf(capsys, tmp_path):
    video = uuid.UUID(int=12345)
    path = tmp_path / "records.tsv"
    path.write_bytes(f"cat\t{video}\t2\r\n\r\ncar\t {video} \t 3 \n".encode())
    output = tmp_path / "index.bin"
    assert run(capsys, "build", path, "-o", output)[0] == 0
    expected = kelnor.build([("cat", video, 2), ("car", video, 3)])
    assert output.read_bytes() == saved(expected)


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
            b"cat\t-7\t1\n",
            "{path}:1: video id -7 is negative: "
            "a video id is a whole number from 0 to 4294967295 or a UUID",
        ),
        (b"cat\t7\t1\nterm\tvideo\tcount\n", "{path}:2: count 'count' is not a whole number"),
        (b"Term\tVideo\tCount\n", "{path}:1: count 'Count' is not a whole number"),
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


RECORDS_TSV = tsv(RECORDS).encode()
BOM = b"\xef\xbb\xbf"
HEADER = b"term\tvideo\tcount\r\n"


@pytest.mark.parametrize(
    "prefix", [BOM, HEADER, BOM + HEADER], ids=["byte-order mark", "header", "both"]
)
@pytest.mark.parametrize("from_stdin", [False, True], ids=["file", "stdin"])
def test_build_skips_a_byte_order_mark_and_a_header(
    capsys, monkeypatch, tmp_path, prefix, from_stdin
):
    path = tmp_path / "records.tsv"
    path.write_bytes(prefix + RECORDS_TSV)
    if from_stdin:
        monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(path.read_bytes())))
        path = "-"
    output = tmp_path / "index.bin"
    assert run(capsys, "build", path, "-o", output)[:2] == (
        0,
        f"{output}: 4 terms, 4 videos, 13 nodes, {output.stat().st_size:,} bytes\n",
    )
    assert output.read_bytes() == saved(kelnor.build(RECORDS))


@pytest.mark.parametrize(
    "stdin, message",
    [
        (io.TextIOWrapper(io.BytesIO(b"cat\t7\n")), "<stdin>:1: expected 3 tab-separated fields"),
        (io.TextIOWrapper(io.BytesIO(b"\xffcat\t7\t1\n")), "<stdin>:1: not UTF-8 text"),
        (None, "cannot read standard input: it is closed"),
    ],
)
def test_build_names_standard_input_in_errors(capsys, monkeypatch, tmp_path, stdin, message):
    monkeypatch.setattr(sys, "stdin", stdin)
    status, _, err = run(capsys, "build", "-", "-o", tmp_path / "index.bin")
    assert status == 1
    assert err.startswith("kelnor: " + message)


def test_build_reports_missing_records(capsys, tmp_path):
    missing = tmp_path / "missing.tsv"
    status, _, err = run(capsys, "build", missing, "-o", tmp_path / "index.bin")
    assert (status, err) == (1, f"kelnor: cannot read {missing}: No such file or directory\n")


class FailingReads(io.BufferedReader):
    """A file whose every read fails, as one on a failing disk does."""

    def __init__(self) -> None:
        super().__init__(io.BytesIO(b"cat\t1\t1\n"))

    def read(self, size=-1):
        raise OSError(5, "Input/output error")

    peek = read1 = read


@pytest.mark.parametrize("stdin", [False, True], ids=["file", "stdin"])
def test_build_reports_a_records_file_whose_first_read_fails(
    capsys, monkeypatch, tmp_path, records_file, stdin
):
    monkeypatch.setattr("kelnor.cli.records_file.open_regular", lambda path: FailingReads())
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(FailingReads()))
    records = "-" if stdin else records_file
    status, out, err = run(capsys, "build", records, "-o", tmp_path / "index.bin")
    name = "<stdin>" if stdin else records_file
    assert (status, out, err) == (1, "", f"kelnor: cannot read {name}: Input/output error\n")


def test_build_reports_an_unwritable_output(capsys, tmp_path, records_file):
    output = tmp_path / "no" / "index.bin"
    status, _, err = run(capsys, "build", records_file, "-o", output)
    assert (status, err) == (1, f"kelnor: cannot write {output}: No such file or directory\n")


def ignore_file_size_signal_and_cap_files_at_64_kib():
    # With SIGXFSZ ignored, a write past the cap fails with EFBIG instead of
    # killing the process.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))


def test_a_failed_build_keeps_the_old_index(tmp_path, index_file):
    old = index_file.read_bytes()
    many = tmp_path / "many.tsv"
    many.write_text(tsv((f"term{i}", i, 1) for i in range(20000)), encoding="utf-8")
    completed = run_child(
        "build", many, "-o", index_file, preexec_fn=ignore_file_size_signal_and_cap_files_at_64_kib
    )
    assert (completed.returncode, completed.stdout) == (1, "")
    assert completed.stderr == f"kelnor: cannot write {index_file}: File too large\n"
    assert index_file.read_bytes() == old
    assert sorted(p.name for p in tmp_path.iterdir()) == ["index.bin", "many.tsv", "records.tsv"]


@pytest.mark.parametrize(
    "failure, status, message",
    [
        (KeyboardInterrupt(), 130, "kelnor: interrupted\n"),
        (OSError(28, "No space left on device"), 1, "cannot write {path}: No space left on device"),
    ],
)
def test_an_interrupted_build_keeps_the_old_index(
    capsys, monkeypatch, tmp_path, index_file, failure, status, message
):
    old = index_file.read_bytes()

    def fail(descriptor):
        raise failure

    monkeypatch.setattr(os, "fsync", fail)
    many = tmp_path / "many.tsv"
    many.write_text(tsv([("other", 1, 1)]), encoding="utf-8")
    code, out, err = run(capsys, "build", many, "-o", index_file)
    assert (code, out) == (status, "")
    assert message.format(path=index_file) in err
    assert index_file.read_bytes() == old
    assert sorted(p.name for p in tmp_path.iterdir()) == ["index.bin", "many.tsv", "records.tsv"]


def test_build_replaces_the_file_a_link_points_to_keeping_its_permissions(capsys, tmp_path, records_file):
    target = tmp_path / "index.bin"
    target.write_bytes(b"old")
    target.chmod(0o640)
    link = tmp_path / "link.bin"
    link.symlink_to(target.name)
    assert run(capsys, "build", records_file, "-o", link)[0] == 0
    assert link.is_symlink()
    assert target.read_bytes() == saved(kelnor.build(RECORDS))
    assert stat.S_IMODE(target.stat().st_mode) == 0o640


@pytest.mark.parametrize(
    "name, shown", [(b"w\xc3\xb6rds.bin", "wörds.bin"), (b"w\xf6rds.bin", "w\\xf6rds.bin")], ids=["utf-8", "latin-1"]
)
def test_build_to_a_name_that_is_not_utf8_succeeds_on_a_strict_output(tmp_path, records_file, name, shown):
    output = os.path.join(os.fsencode(tmp_path), name)
    completed = run_child("build", records_file, "-o", os.fsdecode(output), env={"PYTHONIOENCODING": "utf-8"})
    assert (completed.returncode, completed.stderr) == (0, "")
    assert completed.stdout == f"{os.fsdecode(tmp_path)}/{shown}: 4 terms, 4 videos, 13 nodes, {os.path.getsize(output)} bytes\n"


@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() != 0, reason="needs root to give a file away")
@pytest.mark.parametrize("mode", [0o600, 0o640])
def test_build_as_root_keeps_the_owner_of_the_index_it_replaces(capsys, tmp_path, records_file, mode):
    # A server running as the file's owner must still read the new index.
    target = tmp_path / "index.bin"
    target.write_bytes(b"old")
    os.chown(target, 65534, 65534)
    target.chmod(mode)
    assert run(capsys, "build", records_file, "-o", target)[0] == 0
    status = target.stat()
    assert (status.st_uid, status.st_gid, stat.S_IMODE(status.st_mode)) == (65534, 65534, mode)
    assert target.read_bytes() == saved(kelnor.build(RECORDS))


def test_build_gives_a_new_index_the_usual_permissions(capsys, tmp_path, records_file):
    output = tmp_path / "index.bin"
    assert run(capsys, "build", records_file, "-o", output)[0] == 0
    umask = os.umask(0)
    os.umask(umask)
    assert stat.S_IMODE(output.stat().st_mode) == 0o666 & ~umask


def test_build_writes_into_a_pipe(capsys, tmp_path, records_file):
    # A rename would put a regular file where the pipe was, as it would
    # replace /dev/null; the reader is open before the build so the write
    # does not wait, and sees an end of file if the build never opens the pipe.
    pipe = tmp_path / "pipe"
    os.mkfifo(pipe)
    reader = os.open(pipe, os.O_RDONLY | os.O_NONBLOCK)
    try:
        assert run(capsys, "build", records_file, "-o", pipe)[0] == 0
        assert os.read(reader, 1 << 16) == saved(kelnor.build(RECORDS))
    finally:
        os.close(reader)
    assert stat.S_ISFIFO(pipe.stat().st_mode)


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


def test_a_failure_after_the_progress_bar_shows_on_a_line_of_its_own(capsys, tmp_path):
    # Past the first piece read (1 MiB), so that the bar is drawn before the bad line.
    records = tmp_path / "records.tsv"
    good = b"harry\t7\t3\n" * 200_000
    records.write_bytes(good + b"harry\tseven\t3\n")
    status, _, err = run(capsys, "build", records, "-o", tmp_path / "index.bin", "--progress")
    bar, failure, end = err.split("\n")
    assert status == 1
    assert bar.startswith(f"\rreading {records} [") and "kelnor:" not in bar
    assert failure.startswith(f"kelnor: {records}:200001: ") and end == ""


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


def test_query_reads_a_bare_image(capsys, tmp_path):
    path = tmp_path / "bare.bin"
    path.write_bytes(kelnor.build(RECORDS).to_bytes())
    assert run(capsys, "query", path, "hare", "--json", "--max-dist", "0")[:2] == (
        0,
        '[{"term": "hare", "distance": 0}]\n',
    )


def test_query_json_keeps_text_readable(capsys, index_file):
    out = run(capsys, "query", index_file, "ete", "--json", "--max-dist", "2")[1]
    assert out == '[{"term": "été", "distance": 2}]\n'


@pytest.mark.parametrize(
    "options, args, kwargs",
    [
        ([], ("har", None, 10), {}),
        (["--max-dist", "1", "--limit", "2"], ("har", 1, 2), {}),
        (["--exact", "--max-dist", "2", "--transpositions"], ("har", 2, 10),
         {"complete": False, "transpositions": True}),
        (["--exact", "--max-dist", "2", "--no-transpositions"], ("har", 2, 10),
         {"complete": False, "transpositions": False}),
    ],
)
def test_suggest_json_gives_the_method_answers(capsys, index_file, options, args, kwargs):
    status, out, err = run(capsys, "suggest", index_file, "har", "--json", *options)
    assert (status, err) == (0, "")
    expected = kelnor.build(RECORDS).suggest(*args, **kwargs)
    assert json.loads(out) == [{"term": t, "distance": d, "count": c} for t, d, c in expected]


@pytest.mark.parametrize(
    "options, args",
    [
        ([], ("hare harry", None, 10)),
        (["--max-dist", "0", "--limit", "1"], ("hare harry", 0, 1)),
    ],
)
def test_search_json_gives_the_method_answers(capsys, index_file, options, args):
    status, out, err = run(capsys, "search", index_file, "hare harry", "--json", *options)
    assert (status, err) == (0, "")
    expected = kelnor.build(RECORDS).search(*args)
    assert json.loads(out) == [{"video": v, "words": w, "score": s} for v, w, s in expected]


@pytest.mark.parametrize(
    "text, out, err",
    [
        ("hare harry", "video  words   score\n7          2  1.2500\n8          1  0.7500\n", ""),
        ("...", "no matches\n", ""),
        (
            "a " * 40,
            "",
            "kelnor: PrefixSearch.search() takes at most 32 words; the text has 40\n",
        ),
    ],
)
def test_search_table_and_refusal(capsys, index_file, text, out, err):
    assert run(capsys, "search", index_file, text)[1:] == (out, err)


def test_suggest_table_and_folded_build(capsys, tmp_path):
    records = tmp_path / "folded.tsv"
    records.write_text(tsv([("Harry", 7, 3), ("HARRY ", 8, 2), ("hâre", 7, 1)]), encoding="utf-8")
    assert run(capsys, "build", records, "-o", tmp_path / "f.bin", "--fold")[0] == 0
    assert run(capsys, "suggest", tmp_path / "f.bin", "har")[1] == (
        "term   distance  count\nHarry         0      5\nhâre          0      1\n"
    )


FOLDED_RECORDS = [("Harry", 7, 3), ("HARRY ", 8, 2), ("hâre", 7, 1), ("Kurosawa", 9, 4),
                  ("kurosawa", 9, 1), ("KUROSAWA", 10, 1)]


# What is typed is folded for a folded index (and only for one); suggestions
# show the spelling indexed most, the other answers the folded terms.
@pytest.mark.parametrize(
    "fold, command, typed, answer",
    [
        (True, "suggest", "KUROSAWA", [{"term": "Kurosawa", "distance": 0, "count": 6}]),
        (True, "suggest", "HÂRE", [{"term": "hâre", "distance": 0, "count": 1},
                                   {"term": "Harry", "distance": 1, "count": 5}]),
        (True, "query", "KUROSAWA", [{"term": "kurosawa", "distance": 0}]),
        (True, "query", "Hare", [{"term": "hare", "distance": 0}]),
        (True, "videos", "KUROSAWA", [{"video": "9", "score": 5 / 6}, {"video": "10", "score": 1 / 6}]),
        (True, "search", "KUROSAWA ", [{"video": "9", "words": 1, "score": 5 / 6},
                                       {"video": "10", "words": 1, "score": pytest.approx(1 / 6)}]),
        (False, "suggest", "KUROSAWA", [{"term": "KUROSAWA", "distance": 0, "count": 1}]),
        (False, "suggest", "kurosaw", [{"term": "kurosawa", "distance": 0, "count": 1},
                                       {"term": "Kurosawa", "distance": 1, "count": 4}]),
        (False, "query", "HÂRE", []),
    ],
)
def test_query_and_suggest_fold_what_is_typed_for_a_folded_index(
    capsys, tmp_path, fold, command, typed, answer
):
    records = tmp_path / "records.tsv"
    records.write_text(tsv(FOLDED_RECORDS), encoding="utf-8")
    index = tmp_path / "index.kelnor"
    assert run(capsys, "build", records, "-o", index, *(["--fold"] if fold else []))[0] == 0
    arguments = ["query", index, typed, "--videos"] if command == "videos" else [command, index, typed]
    status, out, err = run(capsys, *arguments, "--json")
    assert (status, err) == (0, "")
    assert json.loads(out) == answer


@pytest.mark.parametrize(
    "image, message",
    [
        (b"", "{path} is not a kelnor index: it has no index file header and is no index image"),
        (
            b"harry\t7\t3\n",
            "{path} is not a kelnor index: it has no index file header and is no index image (a records file? `kelnor build` makes an index of one)",
        ),
        (
            DAMAGED_IMAGE,
            "{path} is a damaged index (index out of bounds: the len is 1 but the index is 5)",
        ),
        (
            file_of(DAMAGED_IMAGE),
            "{path} is a damaged index (index out of bounds: the len is 1 but the index is 5)",
        ),
        (
            file_of(DAMAGED_IMAGE)[:-1],
            "{path} is truncated: the header gives an image of 13 bytes, the file holds 12",
        ),
    ],
)
def test_query_reports_bad_images(capsys, tmp_path, image, message):
    path = tmp_path / "bad.bin"
    path.write_bytes(image)
    status, out, err = run(capsys, "query", path, "a")
    assert (status, out) == (1, "")
    assert err.endswith("kelnor: " + message.replace("{path}", str(path)) + "\n")


def test_query_refuses_a_term_that_is_not_utf8(capsys, index_file):
    # The command line's bytes b"caf\xe9" reach Python as "caf\udce9".
    assert run(capsys, "query", index_file, "caf\udce9") == (
        1,
        "",
        "kelnor: the term b'caf\\xe9' is not UTF-8 text\n",
    )


def test_query_reports_an_output_that_cannot_show_a_term(index_file):
    completed = run_child(
        "query", index_file, "ete", "--max-dist", "2", env={"PYTHONIOENCODING": "ascii"}
    )
    assert (completed.returncode, completed.stdout) == (1, "")
    assert completed.stderr == "kelnor: the output's encoding (ascii) cannot show '\\xe9'\n"


# Caps the address space a little above what the interpreter holds, then runs
# the command.
CAPPED_MAIN = textwrap.dedent("""
    import resource, sys
    from kelnor.cli.main import main
    with open("/proc/self/status") as status:
        size_kb = next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))
    limit = size_kb * 1024 + 256 * 2**20
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    sys.exit(main(sys.argv[1:]))
    """)


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs /proc and RLIMIT_AS")
def test_running_out_of_memory_is_one_line(tmp_path):
    huge = tmp_path / "huge.bin"
    with open(huge, "wb") as file:
        file.truncate(2**31)  # sparse: reading it needs 2 GiB, storing it nothing
    # The sanitizer's allocator aborts on a failed allocation unless told not to.
    asan = os.environ.get("ASAN_OPTIONS", "") + ":allocator_may_return_null=1"
    completed = run_child("query", huge, "a", script=CAPPED_MAIN, env={"ASAN_OPTIONS": asan})
    assert (completed.returncode, completed.stdout) == (1, "")
    assert completed.stderr == "kelnor: out of memory\n"


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


def not_installed(name: str) -> str:
    raise importlib.metadata.PackageNotFoundError(name)


@pytest.mark.parametrize(
    "metadata_version, shown",
    [(lambda name: "7.8.9", "7.8.9"), (not_installed, __version__)],
    ids=["installed", "source tree"],
)
def test_version(capsys, monkeypatch, metadata_version, shown):
    monkeypatch.setattr(importlib.metadata, "version", metadata_version)
    assert run(capsys, "--version") == (0, f"kelnor {shown}\n", "")


def test_module_entry_point():
    # The same entry as the console script, in a fresh interpreter.
    completed = run_child("demo")
    assert completed.returncode == 0, completed.stderr
    assert "the same answers" in completed.stdout


# --------------------------------------------------------- other formats


def csv_records(records) -> str:
    return "term,video,count\n" + "".join(
        f'"{term}",{video},{count}\n' for term, video, count in records
    )


@pytest.mark.parametrize(
    "name, content, flags",
    [
        ("records.csv", csv_records(RECORDS).encode(), []),
        ("records.tsv.gz", gzip.compress(tsv(RECORDS).encode(), mtime=0), []),
        ("records.csv.gz", gzip.compress(csv_records(RECORDS).encode(), mtime=0), []),
        ("records.txt", csv_records(RECORDS).encode(), ["--format", "csv"]),
        ("records", gzip.compress(tsv(RECORDS).encode(), mtime=0), []),
    ],
)
def test_build_reads_csv_and_gzip(capsys, tmp_path, name, content, flags):
    path = tmp_path / name
    path.write_bytes(content)
    output = tmp_path / "index.bin"
    status, out, _ = run(capsys, "build", path, "-o", output, *flags)
    assert status == 0, out
    assert output.read_bytes() == saved(kelnor.build(RECORDS))


@pytest.mark.parametrize(
    "content, message",
    [
        (b"cat,7\n", "{path}:1: expected 3 comma-separated fields (term, video id, count), found 2"),
        (b'"cat,7,1\n', "{path}:1: a quoted field does not end on its line"),
        (gzip.compress(b"cat,7,1\n", mtime=0)[:-4], "cannot read {path}: a damaged gzip file"),
    ],
)
def test_build_reports_a_bad_csv_line(capsys, tmp_path, content, message):
    path = tmp_path / "records.csv"
    path.write_bytes(content)
    status, _, err = run(capsys, "build", path, "-o", tmp_path / "index.bin")
    assert status == 1
    assert err.startswith("kelnor: " + message.format(path=path))


def write_table(path, records, file_format):
    pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (it has no wheels for PyPy)")
    table = pa.table({name: list(column) for name, column in zip(("term", "video", "count"), zip(*records))})
    if file_format == "parquet":
        pytest.importorskip("pyarrow.parquet").write_table(table, path)
        return
    with pa.ipc.new_file(str(path), table.schema) as writer:
        writer.write_table(table)


@pytest.mark.parametrize("name", ["records.parquet", "records.arrow", "records.feather"])
def test_build_reads_parquet_and_arrow_files(capsys, tmp_path, name):
    path = tmp_path / name
    write_table(path, RECORDS, "parquet" if name.endswith(".parquet") else "arrow")
    output = tmp_path / "index.bin"
    status, out, _ = run(capsys, "build", path, "-o", output)
    assert status == 0
    assert out == f"{output}: 4 terms, 4 videos, 13 nodes, {output.stat().st_size:,} bytes\n"
    assert output.read_bytes() == saved(kelnor.build(RECORDS))


def test_build_names_the_refused_row_of_a_table(capsys, tmp_path):
    path = tmp_path / "records.parquet"
    write_table(path, [("cat", 7, 1), ("", 7, 1)], "parquet")
    status, _, err = run(capsys, "build", path, "-o", tmp_path / "index.bin")
    assert (status, err) == (1, f"kelnor: {path}: row 1: a term must not be empty\n")


def test_build_refuses_a_file_that_is_not_parquet(capsys, tmp_path):
    pytest.importorskip("pyarrow", reason="pyarrow is not installed (it has no wheels for PyPy)")
    path = tmp_path / "records.parquet"
    path.write_bytes(b"cat\t7\t1\n")
    status, _, err = run(capsys, "build", path, "-o", tmp_path / "index.bin")
    assert status == 1
    assert err.startswith(f"kelnor: {path} is not a readable parquet file (")


@pytest.mark.parametrize("name", ["folded.csv", "folded.parquet"])
def test_a_folded_build_of_csv_and_parquet(capsys, tmp_path, name):
    records = [("Harry", 7, 3), ("HARRY ", 8, 2), ("hâre", 7, 1)]
    path = tmp_path / name
    if name.endswith(".csv"):
        path.write_text(csv_records(records), encoding="utf-8")
    else:
        write_table(path, records, "parquet")
    output = tmp_path / "f.bin"
    assert run(capsys, "build", path, "-o", output, "--fold")[0] == 0
    assert output.read_bytes() == saved(kelnor.build(records, fold=True))


# A term is folded before its checks on every path: one over the byte limit
# as written that folds to a single letter is kept, as kelnor.build keeps it.
@pytest.mark.parametrize("name", ["folded.tsv", "folded.csv", "folded.parquet"])
def test_a_folded_build_checks_the_terms_once_folded(capsys, tmp_path, name):
    records = [("Harry", 7, 3), ("A" + "\u00a0" * 40_000, 8, 2)]
    path = tmp_path / name
    if name.endswith(".tsv"):
        path.write_text(tsv(records), encoding="utf-8")
    elif name.endswith(".csv"):
        path.write_text(csv_records(records), encoding="utf-8")
    else:
        write_table(path, records, "parquet")
    output = tmp_path / "f.bin"
    status, _, err = run(capsys, "build", path, "-o", output, "--fold")
    assert (status, err) == (0, "")
    assert output.read_bytes() == saved(kelnor.build(records, fold=True))


def test_a_folded_build_of_a_table_reads_its_ids_and_columns_as_the_plain_build(capsys, tmp_path):
    video = uuid.UUID(int=0xFF << 120)  # its bytes end in zeros
    path = tmp_path / "ids.parquet"
    write_table(path, [("Harry", video.bytes, 3), ("harry", video.bytes, 1)], "parquet")
    output = tmp_path / "f.bin"
    for fold in ([], ["--fold"]):
        assert run(capsys, "build", path, "-o", output, *fold)[0] == 0
        expected = kelnor.build([("Harry", video, 3), ("harry", video, 1)], fold=bool(fold))
        assert output.read_bytes() == saved(expected)
    pa = pytest.importorskip("pyarrow")
    pytest.importorskip("pyarrow.parquet").write_table(pa.table({"term": ["a"], "video": [1]}), path)
    for fold in ([], ["--fold"]):
        status, _, err = run(capsys, "build", path, "-o", output, *fold)
        assert (status, err) == (
            1,
            f"kelnor: {path}: the table has no column 'count' (its columns: 'term', 'video')\n",
        )


@pytest.mark.parametrize(
    "name, where", [("folded.tsv", ":2"), ("folded.parquet", ": row 1")]
)
def test_a_folded_build_names_a_term_that_folds_to_nothing(capsys, tmp_path, name, where):
    records = [("cat", 7, 1), ("\u0301", 7, 1)]
    path = tmp_path / name
    if name.endswith(".tsv"):
        path.write_text(tsv(records), encoding="utf-8")
    else:
        write_table(path, records, "parquet")
    status, _, err = run(capsys, "build", path, "-o", tmp_path / "f.bin", "--fold")
    assert (status, err) == (1, f"kelnor: {path}{where}: term '\u0301' folds to an empty term\n")
