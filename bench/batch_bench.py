"""The batch calls against a Python loop of single calls.

Runs the same seeded misspelt queries (bench/word_data.py, the speed and
threads benchmarks' words) on wamerican-huge, in two shapes: every query a
different word, and a query log (QUERIES drawn with Zipf popularity, exponent
1.0, from LOG_DISTINCT misspelt words, so that popular queries come again,
as in a day's log). Each goes through each query kind three
ways: a Python loop of single calls, the batch call with workers=1 and with
workers=2, one after another in each of ROUNDS rounds, and prints the
microseconds per query of each, the best of the rounds, with two ratios
taken within each round and printed as their median and range: workers=1
over the loop (the call, the conversions and the lock paid once per batch
instead of once per query; target at most 0.5) and workers=1 over workers=2
(the batch on two cores; target at least 1.8 on a machine with two free
cores). Taking the ratios within a round keeps a change in the machine's
other work between the three ways out of them. Beside them, the processor
time of the process over the wall time of the batch on two workers (2.00:
both cores busy throughout; less when the calling thread, the one that makes
the Python lists, holds the other back, or the machine's other work takes a
core). Each query takes the single call's defaults, or the bound that
--max-dist gives every call: `suggest` and `search` bound a word of 8
characters or more at 2 edits and complete it, so that by default they are
long queries, and at `--max-dist 1` the short ones of the threads
benchmark. The machine's load (`uptime`) belongs beside the figures.

The clock stops when the answers are returned: dropping them (freeing some
hundred thousand lists and tuples, on the calling thread, whoever made
them) happens when the caller lets go of them, and is timed apart, in the
last column, for the batch on one worker. The ratios with that time added
to both sides (medians) follow the table.
Usage: PYTHONPATH=build/release python3 bench/batch_bench.py [QUERIES] [--max-dist N]
"""

from __future__ import annotations

import argparse
import random
import statistics
import time
from typing import Any, Callable, Dict, List, Tuple

from word_data import Zipf, index_data, queries, read_words

from _kelnor import PrefixSearch

ROUNDS = 5
LOG_DISTINCT = 20_000
METHODS = ["fuzzy_match", "fuzzy_match_video", "suggest", "search"]


def seconds(run: Callable[[], object]) -> Tuple[float, float, float]:
    """The wall time of one run until the answers are returned, the
    process's processor time meanwhile, and the wall time of dropping the
    answers."""
    began, began_processor = time.perf_counter(), time.process_time()
    answers = run()
    returned, returned_processor = time.perf_counter(), time.process_time()
    del answers
    return returned - began, returned_processor - began_processor, time.perf_counter() - returned


def spread(ratios: List[float]) -> str:
    """The median of the rounds' ratios, and their range."""
    return f"{statistics.median(ratios):.2f} ({min(ratios):.2f}-{max(ratios):.2f})"


def query_log(words: List[str], count: int) -> List[str]:
    """`count` queries drawn by popularity from LOG_DISTINCT misspelt words."""
    distinct = queries(words, LOG_DISTINCT, seed=6)
    rng = random.Random(7)
    popularity = Zipf(len(distinct), 1.0)
    return [distinct[popularity.draw(rng)] for _ in range(count)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("queries", type=int, nargs="?", default=100_000)
    parser.add_argument("--max-dist", type=int, default=None)
    arguments = parser.parse_args()
    count = arguments.queries
    options = {} if arguments.max_dist is None else {"max_dist": arguments.max_dist}
    words = read_words("english")
    index = PrefixSearch.from_internal_data_v2(*index_data(words).args())
    bound = "the defaults" if arguments.max_dist is None else f"max_dist={arguments.max_dist}"
    print(f"wamerican-huge: {len(words):,} terms, {count:,} queries, {bound}, {ROUNDS} rounds")
    print("| queries | query | loop µs/query | workers=1 | workers=2 | workers=1 / loop "
          "| workers=1 / workers=2 | cores busy, workers=2 | dropping the answers |")
    print("|---|---|---|---|---|---|---|---|---|")
    shapes = [("all different", queries(words, count, seed=5)), ("query log", query_log(words, count))]
    with_drops = [
        line for shape, terms in shapes for line in run_shape(index, shape, terms, options)
    ]
    print("\nWith the answers dropped inside the clock (workers=1 / loop, workers=1 / workers=2):")
    for line in with_drops:
        print(line)


def run_shape(
    index: PrefixSearch, shape: str, terms: List[str], options: Dict[str, Any]
) -> List[str]:
    """Prints the shape's rows, every call given `options`; returns its
    ratios with the drops timed in."""
    count = len(terms)
    with_drops = []
    for method in METHODS:
        single = getattr(index, method)
        many = getattr(index, method + "_many")
        assert many(terms[:1000], workers=2, **options) == [
            single(term, **options) for term in terms[:1000]
        ]
        ways = {
            "loop": lambda: [single(term, **options) for term in terms],
            "one": lambda: many(terms, workers=1, **options),
            "two": lambda: many(terms, workers=2, **options),
        }
        calls: Dict[str, List[float]] = {way: [] for way in ways}
        drops: Dict[str, List[float]] = {way: [] for way in ways}
        cores_busy: List[float] = []  # with two workers
        for _ in range(ROUNDS):
            for way, run in ways.items():
                call, processor, drop = seconds(run)
                calls[way].append(call)
                drops[way].append(drop)
                if way == "two":
                    cores_busy.append(processor / call)
        rounds = range(ROUNDS)
        micro = 1e6 / count
        one_to_loop = [calls["one"][k] / calls["loop"][k] for k in rounds]
        one_to_two = [calls["one"][k] / calls["two"][k] for k in rounds]
        print(
            f"| {shape} | {method} | {min(calls['loop']) * micro:.2f} "
            f"| {min(calls['one']) * micro:.2f} | {min(calls['two']) * micro:.2f} "
            f"| {spread(one_to_loop)} | {spread(one_to_two)} | {spread(cores_busy)} "
            f"| {min(drops['one']) * micro:.2f} |"
        )
        whole = {way: [calls[way][k] + drops[way][k] for k in rounds] for way in ways}
        with_drops.append(
            f"{shape}, {method}: "
            f"{statistics.median(whole['one'][k] / whole['loop'][k] for k in rounds):.2f}, "
            f"{statistics.median(whole['one'][k] / whole['two'][k] for k in rounds):.2f}"
        )
    return with_drops


if __name__ == "__main__":
    main()
