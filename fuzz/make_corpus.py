"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are made with the Python models in tests/, so no build is needed:

- fuzz_image: query parameters, then index images: the documented example,
  empty indexes, tries over word lists (English and French, so that labels
  take one to three bytes), a trie with a cycle, damaged arrays, and images
  that fail to decode at various fields;
- fuzz_build: query parameters, then small host arrays in the layout that
  fuzz/fuzz_build.cpp reads, from terms over its label alphabet;
- fuzz_arrow: Arrow arrays and streams in the layout that fuzz/fuzz_arrow.cpp
  reads: sound columns of each type the build takes, and a few that break
  their layout;
- fuzz_python: short byte strings that select each of the target's actions.

The output is deterministic; rerun after changing an input layout:
    python3 fuzz/make_corpus.py
The inputs of past findings live apart, in fuzz/regressions/<target>/, which
this script leaves alone.
"""

from __future__ import annotations

import hashlib
import random
import sys
import uuid
from pathlib import Path
from typing import Iterable, List, Optional

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

import model_build  # noqa: E402
import model_image  # noqa: E402
from host_data import InternalData, int_video_index, internal_data, uuid_video_index  # noqa: E402
from model_trie import INT32, UUID, ModelTrie  # noqa: E402

CORPUS = ROOT / "fuzz" / "corpus"
WORD_LISTS = [Path("/usr/share/dict/american-english"), Path("/usr/share/dict/french")]

# The choices of fuzz/every_query.cpp, by selector byte.
MAX_DISTS = [0, 1, 2, 3, 4, 250, 65535, 65536, 2**32 - 1, 5, 6, 7, 8]
NO_LIMIT = 0
NO_MIN_SCORE = 0
# The edge values of FuzzInput::take_u32, from byte 251 up.
U32_EDGES = [65535, 65536, 2**31, 2**32 - 2, 2**32 - 1]
# The labels of fuzz/fuzz_build.cpp, by byte.
BUILD_LABELS = ["", "a", "b", "c", "é", "€", "😀", "\U0010ffff"]


def query(term: str, max_dist: int = 1, limit: Optional[int] = None, min_score: int = 0) -> bytes:
    encoded = term.encode("utf-8")[:16]
    limit_byte = NO_LIMIT if limit is None else (limit << 2) | 1
    return bytes([MAX_DISTS.index(max_dist), limit_byte, min_score, len(encoded)]) + encoded


def words_from(path: Path, prefix: str, count: int) -> List[str]:
    if not path.exists():
        return [prefix + suffix for suffix in ("", "a", "b", "ab", "ba", "abc")][:count]
    chosen = []
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith(prefix) and "'" not in line:
            chosen.append(line)
            if len(chosen) == count:
                break
    return chosen


def word_trie(words: Iterable[str], rng: random.Random, uuids: bool = False) -> ModelTrie:
    entries = []
    for word in words:
        videos = rng.sample(range(6), rng.randint(0, 3))
        counts = [rng.randint(1, 300) for _ in videos]
        entries.append((word, (sum(counts) + rng.randint(0, 5), videos, counts)))
    table = (
        uuid_video_index(bytes([k]) * 16 for k in range(5))
        if uuids
        else (int_video_index([7, 2**32 - 1, 70000, 0, 250]))
    )
    return model_build.build(*internal_data(entries, table, video_top_n=4).args())


def worked_example() -> ModelTrie:
    payload = (300, [0], [300])
    return ModelTrie(
        node_shifts=[0, 1],
        child_labels=[0, 0xE9],
        child_transitions=[1],
        payloads=[payload, payload],
        video_uuids=[bytes(range(16))],
        id_mode=UUID,
        is_terminal=[False, True],
    )


def cyclic() -> ModelTrie:
    # Node 1 (a) is a child of the root and of itself; node 2 (b) hangs below it.
    return ModelTrie(
        node_shifts=[0, 1, 3],
        child_labels=[0, ord("a"), ord("b")],
        child_transitions=[1, 1, 2],
        payloads=[None, (2, [0], [2]), (1, [1], [1])],
        video_int_ids=[1, 2],
        id_mode=INT32,
        is_terminal=[False, True, True],
    )


def damaged(trie: ModelTrie, rng: random.Random) -> List[ModelTrie]:
    variants = []
    for breakage in range(5):
        copy = ModelTrie(
            **{
                name: list(value) if isinstance(value, list) else value
                for name, value in vars(trie).items()
            }
        )
        if breakage == 0 and copy.child_transitions:
            copy.child_transitions[rng.randrange(len(copy.child_transitions))] = 10**6
        elif breakage == 1 and copy.node_shifts:
            copy.node_shifts[rng.randrange(len(copy.node_shifts))] = 2**32 - 1
        elif breakage == 2:
            copy.is_terminal = copy.is_terminal[: len(copy.is_terminal) // 2]
        elif breakage == 3:
            copy.payloads = [
                None if p is None else (p[0], p[1] + [99], p[2]) for p in copy.payloads
            ]
        else:
            copy.child_labels = copy.child_labels[:-1]
        variants.append(copy)
    return variants


def undecodable(image: bytes, rng: random.Random) -> List[bytes]:
    cut = image[: rng.randrange(1, len(image))]
    edited = bytearray(image)
    for _ in range(3):
        edited[rng.randrange(len(edited))] = rng.choice([0x02, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0xC3])
    huge_count = b"\xfc\xff\xff\xff\xff" + image[1:]
    return [cut, bytes(edited), huge_count]


def image_seeds() -> List[bytes]:
    rng = random.Random(5)
    english, french = WORD_LISTS
    tries = [
        (worked_example(), query("é")),
        (ModelTrie(), query("a")),
        (ModelTrie(id_mode=INT32), query("", 0)),
        (word_trie(words_from(english, "car", 40), rng), query("cart", 1, 5)),
        (word_trie(words_from(english, "har", 40), rng, uuids=True), query("ha", 1)),
        (word_trie(words_from(english, "qu", 60), rng), query("quiet", 2, None, 3)),
        (word_trie(words_from(french, "é", 40), rng), query("étude", 1)),
        (word_trie(words_from(french, "ch", 40), rng, uuids=True), query("chât", 2, 3)),
        (word_trie(["naïve", "naive", "€", "😀", "日本"], rng), query("naive", 65535)),
        (cyclic(), query("aaab", 2)),
        (cyclic(), query("", 4294967295)),
    ]
    seeds = [header + model_image.encode(trie) for trie, header in tries]
    base = word_trie(words_from(english, "do", 20), rng)
    for variant in damaged(base, rng):
        seeds.append(query("dog", 1) + model_image.encode(variant))
    for trie, header in tries[3:6]:
        seeds.extend(header + broken for broken in undecodable(model_image.encode(trie), rng))
    return seeds


def u32_byte(value: int) -> int:
    return value if value < 251 else 251 + U32_EDGES.index(value)


def build_input(data: InternalData, header: bytes, video_form: int = 1) -> bytes:
    out = bytearray(header)
    out.append(u32_byte(data.video_top_n))
    node_count = len(data.child_labels)
    out.append(node_count)
    out.extend(u32_byte(shift) for shift in data.node_shifts)
    out.extend(BUILD_LABELS.index(label) for label in data.child_labels)
    for payload in data.payloads:
        if payload is None:
            out.append(0)
            continue
        total_count, video_ids, video_counts = payload
        out.append(1 | len(video_ids) << 1)
        out.append(u32_byte(total_count))
        out.extend(video_ids)
        out.extend(u32_byte(count) for count in video_counts)
    out.append(len(data.child_transitions))
    out.extend(data.child_transitions)
    out.append(len(data.video_index))
    out.append(video_form)
    for entry in data.video_index:
        if video_form == 2:
            out.append(len(entry))
        out.extend(entry)
    return bytes(out)


def build_seeds() -> List[bytes]:
    rng = random.Random(6)
    alphabet = "abc" * 3 + "é€😀\U0010ffff"
    seeds = []
    for k in range(16):
        words = {
            "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 4)))
            for _ in range(rng.randint(1, 8))
        }
        entries = []
        for word in sorted(words):
            videos = rng.sample(range(10), rng.randint(0, 3))
            counts = [rng.choice([1, 5, 250, 65535, 2**32 - 1]) for _ in videos]
            entries.append((word, (rng.choice([0, 3, 2**32 - 1]), videos, counts)))
        uuids = k % 4 == 3
        table = (
            uuid_video_index(bytes([v]) * 16 for v in range(6))
            if uuids
            else (int_video_index(range(6 + k % 3)))
        )
        data = internal_data(entries, table, video_top_n=rng.choice([0, 1, 2, 10, 2**32 - 1]))
        if len(data.child_labels) >= 48 or len(data.child_transitions) >= 64:
            continue
        header = query(
            rng.choice(sorted(words)),
            rng.choice([0, 1, 2, 4294967295]),
            rng.choice([None, 0, 2]),
            rng.randrange(8),
        )
        seeds.append(build_input(data, header, 0 if uuids else 1))
    cycle = InternalData(
        node_shifts=[0, 1],
        child_labels=["", "a"],
        payloads=[None, (1, [0], [1])],
        child_transitions=[1, 1],
        video_index=int_video_index([3]),
        video_top_n=2,
    )
    seeds.append(build_input(cycle, query("aaa", 2)))
    past_the_end = InternalData(
        node_shifts=[0, 2],
        child_labels=["", "b"],
        payloads=[None, None],
        child_transitions=[1],
        video_index=[],
        video_top_n=1,
    )
    seeds.append(build_input(past_the_end, query("b")))
    mixed = InternalData(
        node_shifts=[0],
        child_labels=[""],
        payloads=[None],
        child_transitions=[],
        video_index=[bytes(4), bytes(16), bytes(3)],
        video_top_n=1,
    )
    seeds.append(build_input(mixed, query(""), 2))
    return seeds


# fuzz_arrow.cpp's formats, by selector byte.
ARROW_FORMATS = ["u", "U", "vu", "c", "C", "s", "S", "i", "I", "l", "L", "w:16", "g", "+s", None]
NO_VALIDITY = 1  # the flags bit that leaves buffer 0 out


def arrow_array(length: int, contents: bytes, offset: int = 0, null_count: int = 0,
                flags: int = NO_VALIDITY) -> bytes:
    """An array's fields (buffer and child counts as its type has them) and
    its buffers' contents."""
    return bytes([length, offset, null_count, 0, 0, flags]) + contents


def text_array(texts: List[bytes]) -> bytes:
    ends = [0]
    for text in texts:
        ends.append(ends[-1] + len(text))
    return arrow_array(len(texts), bytes(end for end in ends) + b"".join(texts))


def int_array(values: List[int], width: int = 8) -> bytes:
    return arrow_array(len(values), b"".join(value.to_bytes(width, "little") for value in values))


def view_array(texts: List[bytes]) -> bytes:
    """Short texts inline, long ones in the one data buffer."""
    data = b"".join(text for text in texts if len(text) > 12)
    views, start = b"", 0
    for text in texts:
        if len(text) <= 12:
            views += len(text).to_bytes(4, "little") + text.ljust(12, b"\0")
        else:
            views += len(text).to_bytes(4, "little") + text[:4] + bytes(4) + start.to_bytes(4, "little")
            start += len(text)
    return arrow_array(len(texts), views + bytes([len(data)]) + data)


def arrow_seeds() -> List[bytes]:
    terms = [b"cat", b"caterpillar", b"cot"]
    texts = {
        "u": text_array(terms),
        "U": text_array(terms),
        "vu": view_array([b"cat", b"a caterpillar here", b"cot"]),
    }
    uuid_texts = [str(uuid.UUID(int=k)).encode() for k in (1, 2, 1)]
    videos = {
        "l": int_array([7, 9, 7]),
        "C": int_array([7, 9, 7], 1),
        "w:16": arrow_array(3, b"".join(uuid.UUID(int=k).bytes for k in (1, 2, 1))),
        "u": text_array(uuid_texts),
    }
    counts = int_array([5, 1, 2], 4)
    code = ARROW_FORMATS.index
    seeds = []
    for term_format, term_array in texts.items():
        for video_format, video_array in videos.items():
            seeds.append(bytes([0, 5, code(term_format)]) + term_array + bytes([code(video_format)]) +
                         video_array + bytes([code("I")]) + counts)
    # Offsets past the data, going down, and an array offset.
    seeds.append(bytes([0, 5, code("u")]) + arrow_array(2, bytes([0, 100, 6]) + b"abcdef") +
                 bytes([code("l")]) + int_array([1, 2]) + bytes([code("I")]) + int_array([1, 1], 4))
    seeds.append(bytes([0, 5, code("u")]) + arrow_array(2, bytes([0, 1, 2, 2]) + b"ab", offset=1) +
                 bytes([code("l")]) + int_array([1, 2, 3]) + bytes([code("I")]) + int_array([1, 1, 1], 4))
    # Streams of the three columns (and one more) in one and two batches.
    header = bytes([1, 5, 4, 0, code("u"), 1, code("l"), 3, code("g"), 2, code("I"), 0])
    columns = text_array(terms) + int_array([7, 9, 7]) + arrow_array(3, bytes(24)) + \
        int_array([5, 1, 2], 4)
    whole, tail = bytes([3, 0, 0, 0]) + columns, bytes([2, 1, 0, 0]) + columns
    seeds.append(header + bytes([1]) + whole)
    seeds.append(header + bytes([2]) + whole + tail)
    return seeds


def python_seeds() -> List[bytes]:
    rng = random.Random(7)
    seeds = []
    for action in (0, 1, 2):
        for length in (1, 8, 24, 64, 200, 600):
            seeds.append(bytes(rng.randrange(256) for _ in range(length - 1)) + bytes([action]))
    return seeds


def write(target: str, seeds: List[bytes]) -> None:
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.iterdir():
        old.unlink()
    for seed in seeds:
        (directory / hashlib.sha1(seed).hexdigest()).write_bytes(seed)
    print(f"{target}: {len(seeds)} seeds, {sum(map(len, seeds))} bytes")


def main() -> None:
    write("fuzz_image", image_seeds())
    write("fuzz_build", build_seeds())
    write("fuzz_arrow", arrow_seeds())
    write("fuzz_python", python_seeds())


if __name__ == "__main__":
    main()
