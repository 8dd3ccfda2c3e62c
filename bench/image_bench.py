"""Speed of to_bytes and from_bytes on the image of a realistic index.

Builds an index over the words of a word list (or random words when none is
installed), each word carrying a few of VIDEO_COUNT videos, so that payloads
are merged up the trie as in production. Then times encoding and decoding of
its image and prints the best rate of several rounds.
Usage: python3 bench/image_bench.py [WORDS] [VIDEO_TOP_N]
"""

from __future__ import annotations

import os
import random
import string
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

from _kelnor import PrefixSearch  # noqa: E402
from host_data import int_video_index, internal_data  # noqa: E402

WORD_LIST = "/usr/share/dict/words"
VIDEO_COUNT = 100_000
ROUNDS = 7


def words(limit: int, rng: random.Random) -> list:
    if os.path.exists(WORD_LIST):
        with open(WORD_LIST, encoding="utf-8") as lines:
            found = [line.strip() for line in lines if line.strip()]
        if found:
            return rng.sample(found, min(limit, len(found)))
    letters = string.ascii_lowercase
    return ["".join(rng.choices(letters, k=rng.randint(3, 12))) for _ in range(limit)]


def entries(terms: list, rng: random.Random) -> list:
    made = []
    for term in terms:
        videos = rng.sample(range(VIDEO_COUNT), rng.randint(1, 4))
        counts = [int(rng.paretovariate(1.2)) for _ in videos]
        made.append((term, (sum(counts), videos, counts)))
    return made


def best_seconds(action) -> float:
    best = float("inf")
    for _ in range(ROUNDS):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    limit = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
    top_n = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    rng = random.Random(11)
    data = internal_data(entries(words(limit, rng), rng), int_video_index(range(VIDEO_COUNT)), top_n)
    index = PrefixSearch.from_internal_data_v2(*data.args())
    image = index.to_bytes()
    megabytes = len(image) / 1e6

    encode = best_seconds(index.to_bytes)
    decode = best_seconds(lambda: PrefixSearch.from_bytes(image))

    print(f"nodes:       {len(data.child_labels)}")
    print(f"image:       {megabytes:.1f} MB")
    print(f"to_bytes:    {megabytes / encode:,.0f} MB/s ({encode * 1e3:.1f} ms)")
    print(f"from_bytes:  {megabytes / decode:,.0f} MB/s ({decode * 1e3:.1f} ms)")


if __name__ == "__main__":
    main()
