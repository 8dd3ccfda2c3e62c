"""What the index file's sections cost: one index of a word list built from
records (american-english-huge by default, Zipf-like counts as in
bench/word_data.py), saved as version 2 (image and own counts section) and,
restored from its bare image, as version 1 (the image alone); and the same
words built folded (own counts and spellings). For each file: its size and
the best of ROUNDS of save and load times, in one run. Also the memory per
node of an index with its counts against one restored from the bare image
(both hold 16 bytes of counts a node).

Usage: python3 bench/index_sections_bench.py [--words english|french] [--rounds R]
"""

from __future__ import annotations

import argparse
import os
import random
import sys
import tempfile
import time
from typing import Callable

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import kelnor  # noqa: E402
from _kelnor import _index_sizes  # noqa: E402
from allocator import bytes_allocated_by  # noqa: E402
from word_data import read_words, zipf_entries  # noqa: E402


def best_of(rounds: int, run: Callable[[], object]) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def records_of(words: list[str]) -> list[tuple[str, int, int]]:
    return [
        (word, video, count)
        for word, (_, ids, counts) in zipf_entries(words, random.Random(1))
        for video, count in zip(ids, counts)
    ]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--words", default="english")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    words = read_words(args.words)
    records = records_of(words)

    start = time.perf_counter()
    index = kelnor.build(records)
    built = time.perf_counter() - start
    start = time.perf_counter()
    folded = kelnor.build(records, fold=True)
    built_folded = time.perf_counter() - start
    bare = kelnor.PrefixSearch.from_bytes(index.to_bytes())
    terms, _, nodes = _index_sizes(index)
    print(f"{len(records):,} records, {terms:,} terms, {nodes:,} nodes; "
          f"build {built:.2f} s, folded {built_folded:.2f} s "
          f"({len(folded._spellings() or {}):,} spellings)")
    print("| file | bytes | save | load | loaded, bytes a node |")
    print("|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        for name, which in [("version 1 (image)", bare), ("version 2 (+ own counts)", index),
                            ("version 2 folded (+ own counts, spellings)", folded)]:
            path = os.path.join(folder, "index.kelnor")
            save = best_of(args.rounds, lambda: kelnor.save(which, path))
            load = best_of(args.rounds, lambda: kelnor.load(path))
            size = os.path.getsize(path)
            memory = bytes_allocated_by(lambda: kelnor.load(path)) / nodes
            print(f"| {name} | {size:,} | {save * 1000:.1f} ms | {load * 1000:.1f} ms "
                  f"| {memory:.1f} |")


if __name__ == "__main__":
    main()
