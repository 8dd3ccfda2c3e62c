"""Throughput of queries from one thread and from two threads sharing one index.

The queries release the interpreter lock while the core runs, so two threads
overlap in the walk and the ranking and hold the lock only to convert their
arguments and build their results. This runs the same seeded misspelt queries
(bench/word_data.py) on wamerican-huge from one thread and split between two,
in turns, and prints the queries per second of each and their ratio, the best
of ROUNDS rounds, with the processor time of the best two-thread round over
its wall time (2.00: both cores busy throughout; less on a machine that other
jobs share, whose figures say little). It also prints what a call costs that does no work (limit=0)
beside the median single query at max_dist 1: the part of a query that runs
under the lock whatever the walk, which a batch form of the methods would
share out.
Usage: PYTHONPATH=build/release python3 bench/threads_bench.py [QUERIES]
"""

from __future__ import annotations

import statistics
import sys
import threading
import time
from typing import Callable, List, Tuple

from word_data import index_data, queries, read_words

from _kelnor import PrefixSearch

ROUNDS = 5
METHODS = ["fuzzy_match", "fuzzy_match_video", "suggest", "search"]


def seconds_for(
    run: Callable[[List[str]], None], terms: List[str], threads: int
) -> Tuple[float, float]:
    """Wall time for `threads` threads to run their shares of `terms`, started
    together, and the processor time they took meanwhile."""
    shares = [terms[start::threads] for start in range(threads)]
    start = threading.Barrier(threads + 1)

    def work(share: List[str]) -> None:
        start.wait()
        run(share)

    workers = [threading.Thread(target=work, args=(share,)) for share in shares]
    for worker in workers:
        worker.start()
    start.wait()
    began, processor = time.perf_counter(), time.process_time()
    for worker in workers:
        worker.join()
    return time.perf_counter() - began, time.process_time() - processor


def per_call_microseconds(call: Callable[[], object], repeat: int = 20_000) -> float:
    """Median of per-call times over batches of 100 calls."""
    times = []
    for _ in range(repeat // 100):
        began = time.perf_counter()
        for _ in range(100):
            call()
        times.append((time.perf_counter() - began) / 100)
    return statistics.median(times) * 1e6


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 4000
    words = read_words("english")
    index = PrefixSearch.from_internal_data_v2(*index_data(words).args())
    terms = queries(words, count, seed=5)
    print(f"wamerican-huge: {len(words):,} terms, {count:,} queries per measurement")
    print("| query | max_dist | 1 thread | 2 threads | ratio | cores busy with 2 |")
    print("|---|---|---|---|---|---|")
    for max_dist in (1, 2):
        for method in METHODS:
            query = getattr(index, method)

            def run(share: List[str]) -> None:
                for term in share:
                    query(term, max_dist)

            best = {1: (float("inf"), 0.0), 2: (float("inf"), 0.0)}
            for _ in range(ROUNDS):
                for threads in best:
                    best[threads] = min(best[threads], seconds_for(run, terms, threads))
            rates = {threads: count / seconds for threads, (seconds, _) in best.items()}
            wall, processor = best[2]
            print(
                f"| {method} | {max_dist} | {rates[1]:,.0f}/s | {rates[2]:,.0f}/s "
                f"| {rates[2] / rates[1]:.2f} | {processor / wall:.2f} |"
            )
    term = terms[0]
    empty = per_call_microseconds(lambda: index.fuzzy_match(term, 1, 0))
    single = statistics.median(
        per_call_microseconds(lambda: index.fuzzy_match(term, 1), 100) for term in terms[:300]
    )
    print(f"a call that does no work (limit=0): {empty:.2f} µs")
    print(f"median fuzzy_match at max_dist 1:  {single:.2f} µs ({empty / single:.0%} of it)")


if __name__ == "__main__":
    main()
