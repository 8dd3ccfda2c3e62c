"""The batch calls against a Python loop of single calls.

Runs the same seeded misspelt queries (bench/word_data.py, the speed and
threads benchmarks' words) on wamerican-huge, in two shapes: every query a
different word, and a query log (QUERIES drawn with Zipf popularity, exponent
1.0, from LOG_DISTINCT misspelt words, so that popular queries come again,
as in a day's log). Each goes through each query kind three
ways: a Python loop of single calls, the batch call with workers=1 and with
workers=2, and prints the microseconds per query of each, the best of ROUNDS
rounds, with two ratios: workers=1 over the loop (the call, the conversions
and the lock paid once per batch instead of once per query; target at most
0.5) and workers=1 over workers=2 (the batch on two cores; target at least
1.8 on a machine with two free cores). Each query takes the single call's
defaults. The machine's load (`uptime`) belongs beside the figures.

The clock stops when the answers are returned: dropping them (freeing some
hundred thousand lists and tuples, on the calling thread, whoever made
them) happens when the caller lets go of them, and is timed apart, in the
last column, for the batch on one worker. The ratios with that time added
to both sides follow the table.
Usage: PYTHONPATH=build/release python3 bench/batch_bench.py [QUERIES]
"""

from __future__ import annotations

import random
import sys
import time
from typing import Callable, List, Tuple

from word_data import Zipf, index_data, queries, read_words

from _kelnor import PrefixSearch

ROUNDS = 3
LOG_DISTINCT = 20_000
METHODS = ["fuzzy_match", "fuzzy_match_video", "suggest", "search"]


def best_seconds(run: Callable[[], object]) -> Tuple[float, float]:
    """The shortest wall times of ROUNDS runs: until the answers are
    returned, and of dropping them."""
    calls, drops = [], []
    for _ in range(ROUNDS):
        began = time.perf_counter()
        answers = run()
        returned = time.perf_counter()
        del answers
        calls.append(returned - began)
        drops.append(time.perf_counter() - returned)
    return min(calls), min(drops)


def query_log(words: List[str], count: int) -> List[str]:
    """`count` queries drawn by popularity from LOG_DISTINCT misspelt words."""
    distinct = queries(words, LOG_DISTINCT, seed=6)
    rng = random.Random(7)
    popularity = Zipf(len(distinct), 1.0)
    return [distinct[popularity.draw(rng)] for _ in range(count)]


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    words = read_words("english")
    index = PrefixSearch.from_internal_data_v2(*index_data(words).args())
    print(f"wamerican-huge: {len(words):,} terms, {count:,} queries, best of {ROUNDS}")
    print("| queries | query | loop µs/query | workers=1 | workers=2 | workers=1 / loop "
          "| workers=1 / workers=2 | dropping the answers |")
    print("|---|---|---|---|---|---|---|---|")
    shapes = [("all different", queries(words, count, seed=5)), ("query log", query_log(words, count))]
    with_drops = [line for shape, terms in shapes for line in run_shape(index, shape, terms)]
    print("\nWith the answers dropped inside the clock (workers=1 / loop, workers=1 / workers=2):")
    for line in with_drops:
        print(line)


def run_shape(index: PrefixSearch, shape: str, terms: List[str]) -> List[str]:
    """Prints the shape's rows; returns its ratios with the drops timed in."""
    count = len(terms)
    with_drops = []
    for method in METHODS:
        single = getattr(index, method)
        many = getattr(index, method + "_many")
        assert many(terms[:1000], workers=2) == [single(term) for term in terms[:1000]]
        loop, loop_drop = best_seconds(lambda: [single(term) for term in terms])
        one, one_drop = best_seconds(lambda: many(terms, workers=1))
        two, two_drop = best_seconds(lambda: many(terms, workers=2))
        micro = 1e6 / count
        print(
            f"| {shape} | {method} | {loop * micro:.2f} | {one * micro:.2f} | {two * micro:.2f} "
            f"| {one / loop:.2f} | {one / two:.2f} | {one_drop * micro:.2f} |"
        )
        with_drops.append(
            f"{shape}, {method}: {(one + one_drop) / (loop + loop_drop):.2f}, "
            f"{(one + one_drop) / (two + two_drop):.2f}"
        )
    return with_drops


if __name__ == "__main__":
    main()
