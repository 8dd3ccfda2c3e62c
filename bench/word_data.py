"""Benchmark data: Debian word lists as internal data v2, Zipf-like payloads
and seeded misspelt queries.

Install the lists with `apt-get install wamerican-huge wfrench wngerman`.
"""

from __future__ import annotations

import bisect
import itertools
import os
import random
import sys
from typing import List, Sequence, Tuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

from host_data import InternalData, int_video_index, internal_data  # noqa: E402

WORD_LISTS = {
    "english": "/usr/share/dict/american-english-huge",
    "french": "/usr/share/dict/french",
    "german": "/usr/share/dict/ngerman",
}
VIDEO_COUNT = 50_000
VIDEO_TOP_N = 10
EDIT_CHARACTERS = "abcdefghijklmnopqrstuvwxyzéèäöüß"


def read_words(name: str) -> List[str]:
    path = WORD_LISTS[name]
    if not os.path.exists(path):
        raise SystemExit(f"{path} is missing: apt-get install -y wamerican-huge wfrench wngerman")
    with open(path, encoding="utf-8") as lines:
        return sorted({line.strip() for line in lines if line.strip()})


class Zipf:
    """Draws ranks 0..size-1 with probability proportional to 1 / (rank + 1) ** exponent."""

    def __init__(self, size: int, exponent: float) -> None:
        weights = (1.0 / (rank + 1) ** exponent for rank in range(size))
        self.cumulative = list(itertools.accumulate(weights))

    def draw(self, rng: random.Random) -> int:
        return bisect.bisect(self.cumulative, rng.random() * self.cumulative[-1])


def zipf_entries(words: Sequence[str], rng: random.Random) -> List[Tuple[str, tuple]]:
    """Each term with one to five videos, popular videos far more often than
    rare ones, and heavy-tailed view counts."""
    videos = Zipf(VIDEO_COUNT, 1.1)
    video_counts = Zipf(5, 1.5)
    entries = []
    for word in words:
        ids = sorted({videos.draw(rng) for _ in range(video_counts.draw(rng) + 1)})
        counts = [min(int(rng.paretovariate(1.1)), 1_000_000) for _ in ids]
        entries.append((word, (sum(counts), ids, counts)))
    return entries


def index_data(words: Sequence[str], seed: int = 1) -> InternalData:
    rng = random.Random(seed)
    return internal_data(zipf_entries(words, rng), int_video_index(range(VIDEO_COUNT)), VIDEO_TOP_N)


def misspelt(word: str, rng: random.Random) -> str:
    """`word` with 0 to 2 random edits: insertions, deletions, substitutions
    or swaps of neighbours."""
    chars = list(word)
    for _ in range(rng.randint(0, 2)):
        edit = rng.choice(["insert", "delete", "replace", "swap"])
        position = rng.randrange(len(chars) + 1)
        if edit == "insert" or not chars:
            chars.insert(position, rng.choice(EDIT_CHARACTERS))
        elif edit == "delete":
            del chars[min(position, len(chars) - 1)]
        elif edit == "replace":
            chars[min(position, len(chars) - 1)] = rng.choice(EDIT_CHARACTERS)
        elif len(chars) > 1:
            k = min(position, len(chars) - 2)
            chars[k], chars[k + 1] = chars[k + 1], chars[k]
    return "".join(chars)


def queries(words: Sequence[str], count: int, seed: int) -> List[str]:
    rng = random.Random(seed)
    return [misspelt(word, rng) for word in rng.sample(list(words), count)]
