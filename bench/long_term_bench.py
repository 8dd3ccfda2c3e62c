"""Query time against term length: fuzzy_match and fuzzy_match_video for a
10-character term and for terms of 1 KB, 100 KB and 1 MB, at max_dist 1, 2
and 9, on an index of the word sample shipped with kelnor.

A term longer than the index's deepest path plus the bound cannot match
anything, so a long term should cost no more than a few times a short one at
the same max_dist. The long terms repeat the short one, so that their
characters are those of real words.

Needs: _kelnor on PYTHONPATH. Usage: python3 bench/long_term_bench.py
[--sizes 10,1000,100000,1000000] [--distances 1,2,9] [--seconds S]

Each figure is the median wall time of repeated calls, repeated until they
add up to about S seconds (0.5 by default) or once for a call slower than
that; the ratio divides it by the first size's (the 10-character term's) at
the same max_dist.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
from typing import Callable, Dict, List

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))

import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402

SAMPLE = os.path.join(os.path.dirname(HERE), "python", "kelnor", "words", "sample.txt")
SHORT_TERM = "developmnt"  # a misspelt sample word, 10 characters


def sample_index() -> PrefixSearch:
    with open(SAMPLE, encoding="utf-8") as lines:
        words = sorted({line.strip() for line in lines if line.strip()})
    return PrefixSearch.from_internal_data_v2(*word_data.index_data(words).args())


def term_of(size: int) -> str:
    repeats = size // len(SHORT_TERM) + 1
    return (SHORT_TERM * repeats)[:size]


def median_seconds(call: Callable[[], object], budget: float) -> float:
    times: List[float] = []
    while not times or (sum(times) < budget and len(times) < 1000):
        started = time.perf_counter()
        call()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def figure(seconds: float) -> str:
    if seconds >= 1.0:
        return f"{seconds:9.2f} s "
    if seconds >= 1e-3:
        return f"{seconds * 1e3:9.2f} ms"
    return f"{seconds * 1e6:9.1f} us"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="10,1000,100000,1000000")
    parser.add_argument("--distances", default="1,2,9")
    parser.add_argument("--seconds", type=float, default=0.5)
    options = parser.parse_args()
    sizes = [int(size) for size in options.sizes.split(",")]
    distances = [int(distance) for distance in options.distances.split(",")]

    index = sample_index()
    methods: Dict[str, Callable[[str, int], object]] = {
        "fuzzy_match": index.fuzzy_match,
        "fuzzy_match_video": index.fuzzy_match_video,
    }
    print(f"{'method':<18} {'max_dist':>8} {'term':>9} {'time':>12} {'ratio':>9}")
    for name, method in methods.items():
        for max_dist in distances:
            short = None
            for size in sizes:
                term = term_of(size)
                seconds = median_seconds(lambda: method(term, max_dist), options.seconds)
                if short is None:
                    short = seconds
                ratio = seconds / short
                print(f"{name:<18} {max_dist:>8} {size:>9} {figure(seconds)} {ratio:>8.1f}x",
                      flush=True)


if __name__ == "__main__":
    main()
