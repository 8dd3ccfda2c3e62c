"""Query time of two builds of _kelnor in one process: a change's "before" and
"after", measured in the same run, on the same image and the same queries.

Usage: python3 bench/ab_bench.py BEFORE_DIR AFTER_DIR [--words english|french]
                                 [--queries N] [--rounds R]

Each DIR holds a built _kelnor extension (for instance a CMake build
directory of each commit). Both restore the image that AFTER builds from the
word list, and take turns over rounds of the same seeded misspelt queries;
times are this process's CPU time per query, medians over rounds, with the
ratio of the medians (above 1: AFTER is faster). `suggest` runs with its
defaults (completions, limit 10) at the same bounds.
"""

from __future__ import annotations

import argparse
import glob
import importlib.machinery
import importlib.util
import os
import statistics
import sys
import time
from types import ModuleType
from typing import Callable, List

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def load_extension(directory: str) -> ModuleType:
    """The _kelnor module built in `directory`; a second build of the same name
    loads beside the first, since extensions are keyed by their file."""
    paths = glob.glob(os.path.join(directory, "_kelnor*.so"))
    if not paths:
        raise SystemExit(f"no _kelnor extension in {directory}")
    loader = importlib.machinery.ExtensionFileLoader("_kelnor", paths[0])
    spec = importlib.util.spec_from_file_location("_kelnor", paths[0], loader=loader)
    assert spec is not None
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def per_query(run: Callable[[str], object], terms: List[str]) -> float:
    started = time.process_time()
    for term in terms:
        run(term)
    return (time.process_time() - started) / len(terms)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--words", default="english", choices=["english", "french", "german"])
    parser.add_argument("--queries", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    # word_data reads the lists through tests/host_data, which imports _kelnor:
    # AFTER's, so that the command needs no other build on the path.
    sys.path.insert(0, args.after)
    import word_data

    before, after = load_extension(args.before), load_extension(args.after)
    words = word_data.read_words(args.words)
    image = after.PrefixSearch.from_internal_data_v2(*word_data.index_data(words).args()).to_bytes()
    indexes = {"before": before.PrefixSearch.from_bytes(image),
               "after": after.PrefixSearch.from_bytes(image)}
    terms = word_data.queries(words, args.queries, seed=7)
    warmup = word_data.queries(words, 300, seed=8)

    print(f"{args.words}: {len(words)} words, {len(image) / 2**20:.1f} MiB image, "
          f"{args.queries} queries, {args.rounds} rounds")
    for method in ("fuzzy_match", "fuzzy_match_video", "suggest"):
        for max_dist in (1, 2):
            times = {name: [] for name in indexes}
            for _ in range(args.rounds):
                for name, index in indexes.items():
                    query = getattr(index, method)
                    run = lambda term, query=query: query(term, max_dist)  # noqa: E731
                    per_query(run, warmup)
                    times[name].append(per_query(run, terms))
            old, new = (statistics.median(times[name]) for name in ("before", "after"))
            print(f"  {method:17} d={max_dist}: before {old * 1e6:7.2f} us, "
                  f"after {new * 1e6:7.2f} us, ratio {old / new:.3f}")


if __name__ == "__main__":
    main()
