"""Index files: save, load and file_info against the format written out by hand."""

from __future__ import annotations

import io
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import zlib

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor
from kelnor import IndexFileError, IndexFileInfo, index_file
from kelnor.index_file import load_stream
from model_index_file import (
    MAGIC,
    file_of,
    file_v2,
    header,
    own_counts_section,
    section,
    spellings_section,
)
from conftest import child_environment
from test_resource_bounds import run_child

RECORDS = [("harry", 7, 3), ("harold", 9, 1), ("hare", 8, 6), ("été", 12, 5)]
IMAGE = kelnor.build(RECORDS).to_bytes()
FILE = file_of(IMAGE)
# The own counts of RECORDS' terms in code point order, which is node order.
COUNTS = own_counts_section([6, 1, 3, 5])
SAVED = file_v2(IMAGE, COUNTS)


def answers(index: kelnor.PrefixSearch) -> list:
    return [index.fuzzy_match("har", 2), index.fuzzy_match_video("har", 2)]


def written(tmp_path, content: bytes):
    path = tmp_path / "index.kelnor"
    path.write_bytes(content)
    return path


def test_save_writes_the_header_and_the_image_and_load_reads_them(tmp_path):
    path = tmp_path / "index.kelnor"
    index = kelnor.build(RECORDS)
    assert kelnor.save(index, path) == len(SAVED)
    assert path.read_bytes() == SAVED
    loaded = kelnor.load(path)
    assert loaded.to_bytes() == IMAGE
    assert answers(loaded) == answers(index)
    assert kelnor.file_info(path) == IndexFileInfo(2, 0, len(IMAGE), f"{zlib.crc32(IMAGE):08x}")


def test_an_index_of_a_bare_image_saves_as_version_1(tmp_path):
    path = tmp_path / "index.kelnor"
    assert kelnor.save(kelnor.PrefixSearch.from_bytes(IMAGE), path) == len(FILE)
    assert path.read_bytes() == FILE
    assert kelnor.load(path).suggest("") == kelnor.build(RECORDS).suggest("")


def test_a_folded_index_saves_its_flag_and_spellings(tmp_path):
    path = tmp_path / "index.kelnor"
    index = kelnor.build([("École", 1, 2), ("ecole", 2, 1), ("Été", 3, 4)], fold=True)
    kelnor.save(index, path)
    image = index.to_bytes()
    spellings = {"ecole": "École", "ete": "Été"}
    assert path.read_bytes() == file_v2(
        image, own_counts_section([3, 4]) + spellings_section(spellings), flags=1
    )
    assert kelnor.load(path)._spellings() == spellings
    assert kelnor.load(path).suggest("") == [("Été", 0, 4), ("École", 0, 3)]


def refuse_the_rename(source, target):
    # As Linux refuses to rename over a bind-mounted or an immutable file.
    raise OSError(16, "Device or resource busy", source, target)


@pytest.mark.parametrize("folder, refused", [("missing", False), ("", True)], ids=["missing folder", "rename refused"])
def test_a_failed_save_names_the_file_asked_for(tmp_path, monkeypatch, folder, refused):
    path = tmp_path / folder / "index.kelnor"
    if refused:
        path.write_bytes(b"old")
        monkeypatch.setattr(os, "replace", refuse_the_rename)
    with pytest.raises(OSError) as raised:
        kelnor.save(kelnor.build(RECORDS), path)
    assert (raised.value.filename, raised.value.filename2) == (str(path), None)
    assert os.listdir(tmp_path) == (["index.kelnor"] if refused else [])


# A save killed outright in a child, just before its rename or just after it.
KILLED_SAVE = """
import os, signal, sys
import kelnor
path, when = sys.argv[1:]
real = getattr(os, when)
def then_killed(*args):
    if when == "replace":
        real(*args)
    os.kill(os.getpid(), signal.SIGKILL)
setattr(os, when, then_killed)
kelnor.save(kelnor.build([("cat", 1, 1)]), path)
"""


@pytest.mark.parametrize("when", ["fsync", "replace"], ids=["before the rename", "after the rename"])
def test_a_killed_save_leaves_a_whole_file_and_at_most_its_named_temporary(tmp_path, when):
    path = written(tmp_path, FILE)
    new = tmp_path / "new" / "index.kelnor"
    new.parent.mkdir()
    kelnor.save(kelnor.build([("cat", 1, 1)]), new)
    child = subprocess.run(
        [sys.executable, "-c", KILLED_SAVE, str(path), when],
        env=child_environment(),
        capture_output=True,
        timeout=300,
    )
    assert child.returncode == -signal.SIGKILL
    left = sorted(name for name in os.listdir(tmp_path) if name not in ("index.kelnor", "new"))
    if when == "fsync":
        assert path.read_bytes() == FILE
        assert len(left) == 1 and re.fullmatch(r"\.index\.kelnor\.[0-9a-f]{12}\.tmp", left[0])
        assert (tmp_path / left[0]).read_bytes() == new.read_bytes()
    else:
        assert (path.read_bytes(), left) == (new.read_bytes(), [])


@settings(max_examples=25, deadline=None)
@given(
    records=st.lists(
        st.tuples(st.text("abé", min_size=1, max_size=6), st.integers(0, 9), st.integers(0, 9)),
        max_size=12,
    )
)
def test_any_index_comes_back_whole(tmp_path_factory, records):
    path = tmp_path_factory.mktemp("saved") / "index.kelnor"
    index = kelnor.build(records)
    kelnor.save(index, str(path))
    assert kelnor.load(str(path)).to_bytes() == index.to_bytes()


def test_a_bare_image_still_loads(tmp_path):
    path = written(tmp_path, IMAGE)
    assert kelnor.load(path).to_bytes() == IMAGE
    assert kelnor.file_info(path) == IndexFileInfo(0, 0, len(IMAGE), f"{zlib.crc32(IMAGE):08x}")


def flipped(content: bytes, position: int) -> bytes:
    return content[:position] + bytes([content[position] ^ 0x10]) + content[position + 1 :]


CHECKSUM = f"{zlib.crc32(IMAGE):08x}"
# Refused by load and by file_info alike: the header, and the length against the file.
HEADER_REFUSALS = [
    (
        MAGIC + b"\x01\x00",
        "PATH is truncated: an index file's header takes 24 bytes, the file has 10",
    ),
    (
        FILE[:-1],
        f"PATH is truncated: the header gives an image of {len(IMAGE)} bytes, "
        f"the file holds {len(IMAGE) - 1}",
    ),
    (FILE + b"\0\0", f"PATH has 2 bytes after the end of its image of {len(IMAGE)} bytes"),
    (
        header(IMAGE, version=3) + IMAGE,
        "PATH is in index file format version 3; this kelnor reads versions 1 and 2",
    ),
    (header(IMAGE, flags=0x8001) + IMAGE, "PATH has flags 0x8001, which this kelnor does not know"),
    (header(IMAGE, flags=0x0001) + IMAGE, "PATH has flags 0x0001, which this kelnor does not know"),
    (
        header(IMAGE, version=2, flags=0x0005) + IMAGE,
        "PATH has flags 0x0005, which this kelnor does not know",
    ),
    (
        header(IMAGE, length=2**64 - 1) + IMAGE,
        f"PATH is truncated: the header gives an image of {2**64 - 1:,} bytes, "
        f"the file holds {len(IMAGE)}",
    ),
]
AFTER_IMAGE = 24 + len(IMAGE)
# Refused by load and load_stream alike: the sections of a version 2 file.
SECTION_REFUSALS = [
    (
        file_v2(IMAGE, COUNTS + b"\1\0"),
        "PATH is truncated: a section's header takes 14 bytes, "
        f"the file has 2 after byte {AFTER_IMAGE + len(COUNTS):,}",
    ),
    (
        file_v2(IMAGE, section(3, b"x")),
        f"PATH has a section of kind 3 at byte {AFTER_IMAGE:,}, which this kelnor does not know",
    ),
    (file_v2(IMAGE, COUNTS + COUNTS), "PATH has two own counts sections"),
    (
        file_v2(IMAGE, COUNTS[:-1]),
        "PATH is truncated: its own counts section gives 4 bytes, the file holds 3",
    ),
    (
        file_v2(IMAGE, section(1, bytes([6, 1, 3, 5]), checksum=7)),
        f"PATH is corrupted: its own counts section's CRC-32 is "
        f"{zlib.crc32(bytes([6, 1, 3, 5])):08x}, its header says 00000007",
    ),
    (
        file_v2(IMAGE, spellings_section({"a": "A"})),
        "PATH has a spellings section but is not marked folded",
    ),
    (
        file_v2(IMAGE, section(2, b"a\0A\0b\0"), flags=1),
        "PATH has a damaged spellings section: it ends inside a pair",
    ),
    (
        file_v2(IMAGE, section(2, b"a\0A"), flags=1),
        "PATH has a damaged spellings section: it ends inside a pair",
    ),
    (
        file_v2(IMAGE, section(2, b"a\0\xff\0"), flags=1),
        "PATH has a damaged spellings section: it is not UTF-8",
    ),
    (
        file_v2(IMAGE, own_counts_section([6, 1, 3])),
        "PATH has own counts that do not fit the image "
        "(the counts end at term 3 (UnexpectedEnd { additional: 1 }))",
    ),
    (
        file_v2(IMAGE, own_counts_section([6, 1, 3, 5, 0])),
        "PATH has own counts that do not fit the image (1 bytes follow the counts "
        "of the image's 4 terms)",
    ),
]
# Refused by load alone: what only reading or decoding the image shows.
IMAGE_REFUSALS = [
    (
        flipped(FILE, len(FILE) - 3),
        "PATH is corrupted: its image's CRC-32 is "
        f"{zlib.crc32(flipped(IMAGE, len(IMAGE) - 3)):08x}, the header says {CHECKSUM}",
    ),
    (
        header(IMAGE, checksum=0) + IMAGE,
        f"PATH is corrupted: its image's CRC-32 is {CHECKSUM}, the header says 00000000",
    ),
    (
        file_of(b"\x01"),
        "PATH holds an image that does not decode (decode error: UnexpectedEnd { additional: 1 })",
    ),
    (
        b"GIF89a\x01\x00\x01\x00",
        "PATH is not a kelnor index: it has no index file header and is no index image",
    ),
    (b"", "PATH is not a kelnor index: it has no index file header and is no index image"),
    (
        "caf\u00e9\t7\t3\n".encode() * 3,
        "PATH is not a kelnor index: it has no index file header and is no index image (a records file? `kelnor build` makes an index of one)",
    ),
    (
        FILE.replace(b"\n", b"\r\n", 1),
        "PATH is an index file damaged in transfer: it starts with "
        "b'\\x89KELNOR\\r' instead of b'\\x89KELNOR\\n' (copied as text?)",
    ),
    (
        bytes(byte & 0x7F for byte in FILE),
        "PATH is an index file damaged in transfer: it starts with "
        "b'\\tKELNOR\\n' instead of b'\\x89KELNOR\\n' (copied as text?)",
    ),
]


@pytest.mark.parametrize(
    "read, content, message",
    [(kelnor.load, *case) for case in HEADER_REFUSALS + SECTION_REFUSALS + IMAGE_REFUSALS]
    + [(kelnor.file_info, *case) for case in HEADER_REFUSALS],
)
def test_refusals_name_the_file_and_the_fault(tmp_path, read, content, message):
    path = written(tmp_path, content)
    with pytest.raises(IndexFileError) as refused:
        read(path)
    assert str(refused.value) == message.replace("PATH", str(path))
    assert isinstance(refused.value, ValueError)


@pytest.mark.parametrize("content, message", SECTION_REFUSALS)
def test_load_stream_checks_the_sections_as_load_does(content, message):
    with pytest.raises(IndexFileError) as refused:
        load_stream(io.BytesIO(content), "PATH")
    assert str(refused.value) == message


def test_file_info_gives_the_header_checksum_without_reading_the_image(tmp_path):
    path = written(tmp_path, header(IMAGE, checksum=0xABC) + IMAGE)
    assert kelnor.file_info(path).checksum == "00000abc"


def bound_socket(path) -> None:
    """Leaves a Unix socket at `path` (which no open() can open)."""
    with socket.socket(socket.AF_UNIX) as listener:
        listener.bind(str(path))


@pytest.mark.parametrize("read", [kelnor.load, kelnor.file_info])
@pytest.mark.parametrize(
    "make, kind",
    [
        (lambda path: os.mkfifo(path), "a FIFO"),
        (lambda path: os.mkdir(path), "a directory"),
        (lambda path: os.symlink("/dev/zero", path), "a character device"),
        (bound_socket, "a socket"),
    ],
    ids=["fifo", "directory", "device", "socket"],
)
def test_a_path_that_is_no_regular_file_is_refused_at_once(tmp_path, read, make, kind):
    # A FIFO without a writer would wait for ever; /dev/zero never ends.
    path = tmp_path / "odd"
    make(path)
    with pytest.raises(IndexFileError) as refused:
        read(path)
    assert str(refused.value) == f"{path} is {kind}, not a regular file"


@pytest.mark.parametrize("content", [FILE, SAVED, IMAGE], ids=["file", "version 2", "bare image"])
def test_load_stream_reads_a_pipe_a_few_bytes_at_a_time(content):
    reading, writing = os.pipe()
    writer = threading.Thread(target=write_in_two_parts, args=(writing, content))
    writer.start()
    try:
        with open(reading, "rb") as stream:
            assert load_stream(stream, "<stdin>").to_bytes() == IMAGE
    finally:
        writer.join()


def write_in_two_parts(descriptor: int, content: bytes) -> None:
    with open(descriptor, "wb", buffering=0) as pipe:
        pipe.write(content[:5])
        time.sleep(0.05)  # so that the reader gets the first part alone
        pipe.write(content[5:])


@pytest.mark.parametrize(
    "content, message",
    [
        (FILE + b"\0", "<stdin> has bytes after the end of its image of {length:,} bytes"),
        (FILE[:-1], "<stdin> is truncated: the header gives an image of {length:,} bytes, "
                    "the file holds {short:,}"),
    ],
)
def test_load_stream_reads_no_further_than_the_header_says(content, message):
    with pytest.raises(IndexFileError) as refused:
        load_stream(io.BytesIO(content), "<stdin>")
    assert str(refused.value) == message.format(length=len(IMAGE), short=len(IMAGE) - 1)


@pytest.mark.parametrize("length", [2**63, 2**40, 5 << 30])
@pytest.mark.parametrize("version", [1, 2])
def test_a_header_that_gives_a_huge_image_takes_no_room_for_it(length, version):
    stream, asked = io.BytesIO(header(b"", version, length=length) + b"x" * 10), []
    read = stream.read
    stream.read = lambda size=-1: asked.append(size) or read(size)
    with pytest.raises(IndexFileError) as refused:
        load_stream(stream, "<stdin>")
    assert str(refused.value) == (
        f"<stdin> is truncated: the header gives an image of {length:,} bytes, the file holds 10"
    )
    assert max(asked) <= 64 << 20


class ShortReads(io.FileIO):
    """A file whose reads give at most 7 bytes each, as a read of more than
    about 2 GiB gives less than it asks for on Linux."""

    def read(self, size: int | None = -1) -> bytes:
        return super().read(size if size is None or size < 0 else min(size, 7))


@pytest.mark.parametrize("content", [FILE, SAVED], ids=["version 1", "version 2"])
def test_load_reads_an_image_that_one_read_does_not_give_whole(tmp_path, monkeypatch, content):
    monkeypatch.setattr(index_file, "open_regular", lambda name: ShortReads(name))
    assert kelnor.load(written(tmp_path, content)).to_bytes() == IMAGE


class WrittenAfterItsSizeIsTaken(io.FileIO):
    """An empty file that a writer fills with `content` once its size is
    taken, before its first read (as `cp` or a shell's `>` refills a file)."""

    content = b""

    def read(self, size: int | None = -1) -> bytes:
        if self.content:
            with open(self.name, "r+b") as writer:
                writer.write(self.content)
            self.content = b""
        return super().read(size)


@pytest.mark.parametrize("read", [kelnor.load, kelnor.file_info])
@pytest.mark.parametrize("filled", [FILE, SAVED, FILE[:40]], ids=["version 1", "version 2", "truncated"])
def test_a_file_written_after_it_is_opened_is_refused_as_changed(tmp_path, monkeypatch, read, filled):
    path = written(tmp_path, b"")

    def opened(name):
        file = WrittenAfterItsSizeIsTaken(name)
        file.content = filled
        return file

    monkeypatch.setattr(index_file, "open_regular", opened)
    with pytest.raises(IndexFileError) as refused:
        read(path)
    assert str(refused.value) == f"{path} changed while it was read: read it again"


# What load_stream reads of a stream is bounded: a bare image by its own
# limit, the sections after an image by theirs; a stream just within a limit
# loads.
@pytest.mark.parametrize(
    "limit_name, content, room, what",
    [
        ("PIPED_BARE_IMAGE_LIMIT", "image", "image", "bytes, the most that a bare image read as a stream may hold"),
        (
            "PIPED_SECTIONS_LIMIT",
            "saved",
            "counts",
            "bytes after its image, the most that the sections of a file read as a stream may hold",
        ),
    ],
)
def test_load_stream_reads_up_to_its_limits(monkeypatch, limit_name, content, room, what):
    content = {"image": IMAGE, "saved": SAVED}[content]
    room = len({"image": IMAGE, "counts": COUNTS}[room])
    monkeypatch.setattr(index_file, limit_name, room - 1)
    with pytest.raises(IndexFileError) as refused:
        load_stream(io.BytesIO(content), "<stdin>")
    assert str(refused.value) == f"<stdin> holds more than {room - 1:,} {what}"
    monkeypatch.setattr(index_file, limit_name, room)
    assert load_stream(io.BytesIO(content), "<stdin>").suggest("") == kelnor.build(RECORDS).suggest("")


# Run in a child: one process rewrites the file in place (truncating it and
# writing the other index, as `open(path, "wb")` does), again and again until
# this one has loaded it 3000 times; every load gives one of the two indexes or
# refuses. The rewrites end with the second index, which a load then gives.
REWRITER = """
import ast, os, sys
import kelnor
from kelnor import IndexFileError
path, contents = ast.literal_eval(sys.stdin.read())
loads_over, tell_loads_over = os.pipe()
if os.fork() == 0:
    os.close(tell_loads_over)
    os.set_blocking(loads_over, False)
    round = 0
    while True:
        with open(path, "wb") as file:
            file.write(contents[round % 2])
        round += 1
        try:
            if os.read(loads_over, 1) == b"":  # the loads are over
                break
        except BlockingIOError:
            pass
    with open(path, "wb") as file:
        file.write(contents[1])
    os._exit(0)
os.close(loads_over)
seen = {"refused": 0}
for _ in range(3000):
    try:
        image = kelnor.load(path).to_bytes()
        seen[image] = seen.get(image, 0) + 1
    except IndexFileError:
        seen["refused"] += 1
os.close(tell_loads_over)
assert os.wait()[1] == 0
print(repr(seen))
print(repr(kelnor.load(path).to_bytes()))
"""


@pytest.mark.parametrize("as_file", [True, False], ids=["index file", "bare image"])
def test_a_file_rewritten_while_it_loads_gives_an_index_it_held_or_a_refusal(tmp_path, as_file):
    images = [IMAGE, kelnor.build([("cat", 1, 1)] * 2000 + [(f"w{k}", k, 1) for k in range(3000)]).to_bytes()]
    contents = [file_of(image) if as_file else image for image in images]
    path = written(tmp_path, contents[0])
    seen, last = run_child(REWRITER, (str(path), contents))
    assert set(seen) - {"refused"} <= set(images)
    assert last == images[1]
