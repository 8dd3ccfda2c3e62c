"""Suggestion speed and memory: PrefixSearch.suggest beside fuzzy_match on the
same index and the same queries, in one process.

The index holds a word list (american-english-huge by default) with Zipf-like
counts (bench/word_data.py). Rows:
- typed words with up to two typos, at max_dist 1 and 2: fuzzy_match against
  suggest with complete=False and complete=True (limit 10), with and without
  transpositions;
- partly typed words (their first 3 to 7 characters, typos included);
- every one-letter prefix at max_dist 0, limit 10: the case with tens of
  thousands of completions;
- the index's memory per node (allocated bytes, glibc), and with --before DIR
  the same figure for another build of _kelnor (say, the commit before
  suggestions) on the same image.

Times are this process's CPU time per query, medians over rounds in which
the rows take turns.

Usage: python3 bench/suggest_bench.py [--words english|french] [--queries N]
                                      [--rounds R] [--before DIR]
"""

from __future__ import annotations

import argparse
import random
import statistics
import string
import os
import sys
from typing import Callable, Dict, List

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import word_data  # noqa: E402
from ab_bench import load_extension, per_query  # noqa: E402
from allocator import bytes_allocated_by  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402


def timed_rows(rows: Dict[str, Callable[[str], object]], terms: List[str],
               rounds: int) -> Dict[str, float]:
    times: Dict[str, List[float]] = {name: [] for name in rows}
    for _ in range(rounds):
        for name, run in rows.items():
            times[name].append(per_query(run, terms))
    return {name: statistics.median(samples) for name, samples in times.items()}


def print_rows(title: str, medians: Dict[str, float], reference: str) -> None:
    print(f"\n{title}")
    for name, seconds in medians.items():
        ratio = seconds / medians[reference]
        print(f"  {name:44s} {seconds * 1e6:9.1f} us  {ratio:5.2f}x {reference}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--words", default="english", choices=sorted(word_data.WORD_LISTS))
    parser.add_argument("--queries", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--before", help="a directory holding another build of _kelnor")
    args = parser.parse_args()

    words = word_data.read_words(args.words)
    data = word_data.index_data(words)
    index = PrefixSearch.from_internal_data_v2(*data.args())
    image = index.to_bytes()
    nodes = len(data.child_labels)
    print(f"{args.words}: {len(words)} words, {nodes} nodes, {args.queries} queries, "
          f"{args.rounds} rounds")

    typed = word_data.queries(words, args.queries, seed=7)
    rng = random.Random(9)
    partial = [term[: rng.randint(3, 7)] for term in word_data.queries(words, args.queries, seed=8)]
    for max_dist in (1, 2):
        for title, terms in (("typed words", typed), ("partly typed words", partial)):
            rows: Dict[str, Callable[[str], object]] = {
                "fuzzy_match": lambda t, k=max_dist: index.fuzzy_match(t, k),
            }
            for complete in (False, True):
                for swaps in (False, True):
                    name = f"suggest complete={complete} transpositions={swaps}"
                    rows[name] = (lambda t, k=max_dist, c=complete, s=swaps:
                                  index.suggest(t, k, 10, complete=c, transpositions=s))
            print_rows(f"{title}, max_dist={max_dist}", timed_rows(rows, terms, args.rounds),
                       "fuzzy_match")

    letters = list(string.ascii_lowercase) * max(1, args.queries // 26)
    single = timed_rows({"suggest(letter, 0, 10)": lambda t: index.suggest(t, 0, 10)},
                        letters, args.rounds)
    completions = statistics.mean(len(index.suggest(c, 0, None)) for c in string.ascii_lowercase)
    print(f"\none-letter prefixes ({completions:.0f} completions each on average): "
          f"{single['suggest(letter, 0, 10)'] * 1e6:.1f} us per query")

    after_bytes = bytes_allocated_by(lambda: PrefixSearch.from_bytes(image))
    print(f"\nindex memory: {after_bytes / nodes:.1f} bytes per node")
    if args.before:
        before_type = load_extension(args.before).PrefixSearch
        before_bytes = bytes_allocated_by(lambda: before_type.from_bytes(image))
        print(f"  before ({args.before}): {before_bytes / nodes:.1f} bytes per node; "
              f"added {(after_bytes - before_bytes) / nodes:.1f} bytes per node")


if __name__ == "__main__":
    main()
