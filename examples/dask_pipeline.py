"""From raw click events to answered searches on a Dask cluster.

A search log holds one row per click: the term searched and the video
clicked. Dask adds them up per (term, video) across the cluster, the sums
become one index, the index goes to every worker once, and each worker
corrects the query terms of its partitions and answers them from its own
copy, one batch call per partition.

The events are made up (seeded): words of kelnor's word sample, searched as
often as their rank makes likely, each leading to a few videos. Needs
`pip install kelnor[dask]`.

Run:  python3 examples/dask_pipeline.py [QUERIES]   (default 1,000,000)
"""

from __future__ import annotations

import importlib.resources
import sys
import time

import dask.dataframe as dd
import numpy as np
import pandas as pd
from distributed import Client, LocalCluster

import kelnor

CLICKS_PER_PARTITION = 50_000
CLICK_PARTITIONS = 8
VIDEOS = 5_000
QUERIES_PER_PARTITION = 50_000
TYPO_LETTERS = np.array(list("aeiourstln"))


def sample_words() -> np.ndarray:
    text = importlib.resources.files("kelnor").joinpath("words/sample.txt").read_text("utf-8")
    return np.array(text.split())


def clicks(part: int) -> pd.DataFrame:
    """One partition of the log, made where it is read: one row per click, a word
    drawn by a Zipf-like law and one of that word's five videos."""
    rng = np.random.default_rng([1, part])
    words = sample_words()
    popularity = 1.0 / np.arange(1, len(words) + 1)
    searched = rng.choice(len(words), size=CLICKS_PER_PARTITION, p=popularity / popularity.sum())
    videos = (searched * 7919 + rng.integers(0, 5, size=len(searched))) % VIDEOS
    return pd.DataFrame({"term": words[searched], "video": videos, "count": 1})


def misspelt(part: int, count: int) -> pd.DataFrame:
    """`count` query terms: words with the letter at one of their first eight
    places replaced by a common letter (now and then by itself), or, where
    the place is past the end of a shorter word, a letter added at its end."""
    rng = np.random.default_rng([2, part])
    words = sample_words()
    chosen = words[rng.integers(0, len(words), size=count)]
    places = rng.integers(0, 8, size=count)
    letters = rng.choice(TYPO_LETTERS, size=count)
    terms = [
        word[:place] + letter + word[place + 1 :]
        for word, place, letter in zip(chosen, places, letters)
    ]
    return pd.DataFrame({"term": pd.Series(terms, dtype=object)})


def answer_partition(queries: pd.DataFrame, index: kelnor.PrefixSearch) -> pd.DataFrame:
    """Each query term corrected (its best suggestion, or itself when nothing
    is near) and its three best videos, from the worker's copy of the index:
    one batch call of each kind for the whole partition. The column is read
    through the Arrow interface where pandas offers it. Each Dask worker
    process already keeps a core busy, so a batch takes one thread (give
    `workers=-1` to a batch that has the machine to itself)."""
    terms = queries["term"]
    suggestions = index.suggest_many(terms, 1, 1)
    corrected = [best[0][0] if best else term for term, best in zip(terms, suggestions)]
    return queries.assign(corrected=corrected, videos=index.fuzzy_match_video_many(terms, 1, 3))


def run(client: Client, queries: int) -> tuple[kelnor.PrefixSearch, pd.DataFrame]:
    """Builds the index from the made-up clicks and answers `queries` misspelt
    terms on the client's cluster; returns the index and the answers, in the
    order of the queries."""
    events = dd.from_map(clicks, range(CLICK_PARTITIONS))
    totals = events.groupby(["term", "video"])["count"].sum().reset_index().compute()
    # The sums come back to this process to be built into one index, in an
    # order of their own so that the same log always gives the same index
    # (videos are numbered as they come), whatever order the partitions came in.
    totals = totals.sort_values(["term", "video"], ignore_index=True)
    # A pandas DataFrame offers the Arrow stream interface: the build reads its
    # columns natively, with no Python object per row.
    index = kelnor.build(totals)
    # Pickled once, sent to every worker once, kept there.
    index_on_workers = client.scatter(index, broadcast=True)
    sizes = [QUERIES_PER_PARTITION] * (queries // QUERIES_PER_PARTITION)
    sizes += [queries % QUERIES_PER_PARTITION] if queries % QUERIES_PER_PARTITION else []
    terms = dd.from_map(misspelt, range(len(sizes)), sizes)
    meta = pd.DataFrame({name: pd.Series(dtype=object) for name in ["term", "corrected", "videos"]})
    answers = terms.map_partitions(answer_partition, index_on_workers, meta=meta).compute()
    return index, answers


def main() -> None:
    queries = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    with LocalCluster(processes=True, dashboard_address=None) as cluster, Client(cluster) as client:
        workers = len(client.scheduler_info()["workers"])
        started = time.perf_counter()
        index, answers = run(client, queries)
        seconds = time.perf_counter() - started
    clicks_read = CLICKS_PER_PARTITION * CLICK_PARTITIONS
    size = len(index.to_bytes())
    print(f"{clicks_read:,} clicks, {size:,} bytes of index, {len(answers):,} queries")
    print(f"built and answered in {seconds:.1f} s on {workers} worker processes")
    for term, corrected, videos in answers.head(5).itertuples(index=False, name=None):
        ranked = ", ".join(f"{video} {score:.2f}" for video, score in videos)
        print(f"  {term!r} ({corrected!r}): {ranked}")


if __name__ == "__main__":
    main()
