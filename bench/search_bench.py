"""Search speed on a synthetic catalogue of video titles: PrefixSearch.search
of three-word texts beside fuzzy_match_video of the same words, in one
process.

The catalogue holds --titles titles (1,000,000 by default) of 3 to 8 words
each, drawn with Zipf popularity (exponent 1.0) from the letters-only words of
/usr/share/dict/words, each title with Pareto-distributed views; each word of
a title is a row (word, title, views), built natively from Arrow columns.
It prints the build time, the process's peak memory and the image size.

Each query is three words of one title, one of them given 0 to 2 random edits
(bench/word_data.py: about a third of the texts keep every word as it is),
the last one typed in full or in part. Rows, per query:
- search of the text (transpositions on, as by default, and off);
- fuzzy_match_video of its longest word alone, with the bound and the prefix
  behaviour that search gives that word;
- three fuzzy_match_video calls, one per word, likewise (their sum).

Times are this process's CPU time per query, medians over rounds in which
the rows take turns; the ratios are of the same run.

Usage: python3 bench/search_bench.py [--titles N] [--queries N] [--rounds R]
"""

from __future__ import annotations

import argparse
import os
import random
import resource
import statistics
import sys
import time
from typing import Callable, Dict, List

import numpy as np
import pyarrow as pa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import word_data  # noqa: E402
from ab_bench import per_query  # noqa: E402
from kelnor import build_columns  # noqa: E402
from _kelnor import PrefixSearch, _search_words  # noqa: E402

WORDS = "/usr/share/dict/words"


def search_bound(word: str) -> int:
    """The bound that search chooses for a word of this length."""
    return 0 if len(word) < 3 else 1 if len(word) < 8 else 2


def vocabulary() -> List[str]:
    with open(WORDS, encoding="utf-8") as lines:
        words = sorted({w.strip().lower() for w in lines if w.strip().isalpha()})
    random.Random(3).shuffle(words)  # popularity by rank, not by spelling
    return words


def catalogue(titles: int, vocab: List[str]):
    """The rows' three columns, and each title's words as vocabulary ranks."""
    rng = np.random.default_rng(5)
    lengths = rng.integers(3, 9, size=titles)
    # Zipf ranks by inverse transform of a continuous power law of exponent 1.0.
    uniform = rng.random(int(lengths.sum()))
    ranks = np.minimum(np.exp(uniform * np.log(len(vocab))).astype(np.int64) - 1, len(vocab) - 1)
    views = np.minimum(rng.pareto(1.1, size=titles) * 100 + 1, 1e9).astype(np.uint32)
    terms = pa.array(vocab).take(pa.array(ranks))
    videos = pa.array(np.repeat(np.arange(titles, dtype=np.uint32), lengths))
    counts = pa.array(np.repeat(views, lengths))
    starts = np.concatenate([[0], np.cumsum(lengths)])
    return (terms, videos, counts), ranks, starts


def three_word_texts(count: int, ranks, starts, vocab: List[str]) -> List[str]:
    rng = random.Random(11)
    texts = []
    for _ in range(count):
        title = rng.randrange(len(starts) - 1)
        words = [vocab[r] for r in ranks[starts[title] : starts[title + 1]]][:3]
        slip = rng.randrange(3)
        words[slip] = word_data.misspelt(words[slip], rng) or words[slip]
        if rng.random() < 0.5:  # the last word still being typed
            words[2] = words[2][: max(1, len(words[2]) - rng.randint(0, 3))]
            texts.append(" ".join(words))
        else:
            texts.append(" ".join(words) + " ")
    return texts


def word_calls(index: PrefixSearch, text: str, transpositions: bool):
    """The fuzzy_match_video calls that rank each word of `text` as search does."""
    words = _search_words(text)
    typing = not text.endswith(" ")
    return [
        (w, search_bound(w), 10, True if typing and k == len(words) - 1 else None)
        for k, w in enumerate(words)
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--titles", type=int, default=1_000_000)
    parser.add_argument("--queries", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    vocab = vocabulary()
    columns, ranks, starts = catalogue(args.titles, vocab)
    started = time.perf_counter()
    index = build_columns(*columns)
    seconds = time.perf_counter() - started
    peak_mib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(
        f"{args.titles:,} titles, {len(columns[0]):,} rows, {len(vocab):,} words: "
        f"built in {seconds:.1f} s, peak memory {peak_mib:,.0f} MiB, "
        f"image {len(index.to_bytes()) / 2**20:,.1f} MiB"
    )

    texts = three_word_texts(args.queries, ranks, starts, vocab)
    calls = {text: word_calls(index, text, False) for text in texts}
    longest = {text: max(calls[text], key=lambda call: len(call[0])) for text in texts}
    rows: Dict[str, Callable[[str], object]] = {
        "search": lambda t: index.search(t),
        "search, no transpositions": lambda t: index.search(t, transpositions=False),
        "fuzzy_match_video of the longest word": lambda t: index.fuzzy_match_video(
            *longest[t], min_score=0.0
        ),
        "fuzzy_match_video of each word (sum)": lambda t: [
            index.fuzzy_match_video(*call, min_score=0.0) for call in calls[t]
        ],
    }
    times: Dict[str, List[float]] = {name: [] for name in rows}
    for _ in range(args.rounds):
        for name, run in rows.items():
            times[name].append(per_query(run, texts))
    medians = {name: statistics.median(samples) for name, samples in times.items()}
    print(f"{args.queries} three-word texts, {args.rounds} rounds")
    for name, median in medians.items():
        print(f"  {name:42s} {median * 1e6:9.1f} us")
    for name in ("search", "search, no transpositions"):
        print(
            f"  {name}: {medians[name] / medians['fuzzy_match_video of the longest word']:.2f}x "
            f"the longest word, "
            f"{medians[name] / medians['fuzzy_match_video of each word (sum)']:.2f}x the three calls"
        )


if __name__ == "__main__":
    main()
