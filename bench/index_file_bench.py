"""Speed of kelnor.load on a large index file against from_bytes on the same image.

Builds an index over the English and French word lists (bench/word_data.py),
each word with up to MOST_VIDEOS of a million videos and VIDEO_TOP_N videos
kept per node, which gives an image of about 500 MB, and saves it both as an
index file and as a bare image. Then times, in turns, the best of ROUNDS:
from_bytes on the image already in memory, reading the bare image and
from_bytes on it (loading before index files had a header), kelnor.load of
the index file, and the pieces of the load (reading the file, its CRC-32),
all from the page cache.
Usage: python3 bench/index_file_bench.py [MOST_VIDEOS] [VIDEO_TOP_N]
"""

from __future__ import annotations

import os
import random
import sys
import tempfile
import time
import zlib
from typing import Callable, Dict

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import kelnor  # noqa: E402
from word_data import read_words  # noqa: E402  (puts tests/ on the path too)
from host_data import int_video_index, internal_data  # noqa: E402  # isort: skip

VIDEO_COUNT = 1_000_000
ROUNDS = 3


def big_index(most_videos: int, top_n: int) -> kelnor.PrefixSearch:
    rng = random.Random(5)
    entries = []
    for word in sorted(set(read_words("english")) | set(read_words("french"))):
        ids = sorted({rng.randrange(VIDEO_COUNT) for _ in range(rng.randint(1, most_videos))})
        counts = [rng.randint(1, 1000) for _ in ids]
        entries.append((word, (sum(counts), ids, counts)))
    data = internal_data(entries, int_video_index(range(VIDEO_COUNT)), top_n)
    return kelnor.PrefixSearch.from_internal_data_v2(*data.args())


def read(path: str) -> bytes:
    with open(path, "rb") as file:
        return file.read()


def main() -> None:
    most_videos = int(sys.argv[1]) if len(sys.argv) > 1 else 40
    top_n = int(sys.argv[2]) if len(sys.argv) > 2 else 256
    started = time.perf_counter()
    index = big_index(most_videos, top_n)
    image = index.to_bytes()
    del index
    print(f"built in {time.perf_counter() - started:.0f} s: image {len(image) / 1e6:,.1f} MB")
    with tempfile.TemporaryDirectory() as directory:
        saved = os.path.join(directory, "index.kelnor")
        kelnor.save(kelnor.PrefixSearch.from_bytes(image), saved)
        bare = os.path.join(directory, "index.bin")
        with open(bare, "wb") as file:
            file.write(image)
        contenders: Dict[str, Callable[[], object]] = {
            "from_bytes (image in memory)": lambda: kelnor.PrefixSearch.from_bytes(image),
            "read + from_bytes (bare image)": lambda: kelnor.PrefixSearch.from_bytes(read(bare)),
            "kelnor.load (index file)": lambda: kelnor.load(saved),
            "  its read": lambda: read(saved),
            "  its CRC-32": lambda: zlib.crc32(image),
        }
        best = {name: float("inf") for name in contenders}
        for _ in range(ROUNDS):
            for name, action in contenders.items():
                start = time.perf_counter()
                action()
                best[name] = min(best[name], time.perf_counter() - start)
    megabytes = len(image) / 1e6
    for name, seconds in best.items():
        print(f"{name:30} {seconds * 1e3:8.0f} ms {megabytes / seconds:8,.0f} MB/s")


if __name__ == "__main__":
    main()
