"""What a process pool costs with an index: per task when the index travels with
every task, and once per worker when an initializer loads it (or fork shares it).

Prints the image's size, the milliseconds per task of each way, and each
worker's resident and private memory, read from /proc (Linux). An image given
to an initializer stays referenced by the pool's worker for its whole life,
so a path costs a worker less.

    PYTHONPATH=build/release python3 bench/pool_bench.py [--terms N]
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import random
import string
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor
from operator import methodcaller
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple

# The package beside these scripts, not an installed copy.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import kelnor  # noqa: E402

WORKERS = 2
TASKS = 40
QUERY = "cat"

worker_index: Optional[kelnor.PrefixSearch] = None


def load_worker_index(path: str) -> None:
    global worker_index
    with open(path, "rb") as file:
        worker_index = kelnor.PrefixSearch.from_bytes(file.read())


def decode_worker_index(image: bytes) -> None:
    global worker_index
    worker_index = kelnor.PrefixSearch.from_bytes(image)


def videos_for(term: str) -> Any:
    assert worker_index is not None
    return worker_index.fuzzy_match_video(term)


def memory_of_this_worker(_: object = None) -> Dict[str, int]:
    """Resident and private (not shared with another process) bytes, after a query."""
    if worker_index is not None:
        worker_index.fuzzy_match_video(QUERY)
    with open("/proc/self/smaps_rollup") as lines:
        fields = {line.split(":")[0]: int(line.split()[1]) * 1024 for line in lines if "kB" in line}
    return {
        "resident": fields["Rss"],
        "private": fields["Private_Clean"] + fields["Private_Dirty"],
    }


def records(terms: int, seed: int = 0) -> Iterable[tuple]:
    rng = random.Random(seed)
    for _ in range(terms):
        term = "".join(rng.choices(string.ascii_lowercase, k=rng.randint(4, 14)))
        for video in rng.sample(range(100_000), rng.randint(1, 3)):
            yield term, video, rng.randint(1, 1000)


def per_task_ms(pool: ProcessPoolExecutor, task: Callable[[Any], Any], items: List[Any]) -> float:
    list(pool.map(task, items[:WORKERS]))  # the workers are up and loaded
    start = time.perf_counter()
    list(pool.map(task, items))
    return (time.perf_counter() - start) * 1000 / len(items)


def report(way: str, ms: float, memory: List[Dict[str, int]]) -> None:
    worst = max(memory, key=lambda figures: figures["private"])
    print(
        f"{way:<34} {ms:9.2f} ms/task   worker: {worst['resident'] / 2**20:6.1f} MiB resident, "
        f"{worst['private'] / 2**20:6.1f} MiB private"
    )


def main() -> None:
    query_the_index_given = methodcaller("fuzzy_match_video", QUERY)
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--terms", type=int, default=300_000)
    args = parser.parse_args()
    index = kelnor.build(records(args.terms))
    image = index.to_bytes()
    print(f"{args.terms:,} terms: a {len(image) / 2**20:.1f} MiB image, {WORKERS} workers")
    spawn = multiprocessing.get_context("spawn")
    fork = multiprocessing.get_context("fork")
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "index.bin")
        with open(path, "wb") as file:
            file.write(image)
        by_path = {"initializer": load_worker_index, "initargs": (path,)}
        by_image = {"initializer": decode_worker_index, "initargs": (image,)}
        ways: List[Tuple[str, Dict[str, Any], Callable[[Any], Any], Any]] = [
            ("spawn: no index", {}, memory_of_this_worker, None),
            ("spawn: the index with every task", {}, query_the_index_given, index),
            ("spawn: initializer given the image", by_image, videos_for, QUERY),
            ("spawn: initializer given the path", by_path, videos_for, QUERY),
        ]
        for way, options, task, item in ways:
            with ProcessPoolExecutor(WORKERS, mp_context=spawn, **options) as pool:
                ms = per_task_ms(pool, task, [item] * TASKS)
                memory = list(pool.map(memory_of_this_worker, range(WORKERS)))
            report(way, ms, memory)

    # The parent decodes the index before the pool starts; each forked worker
    # reads the parent's pages, which stay shared as long as nobody writes them.
    decode_worker_index(image)
    with ProcessPoolExecutor(WORKERS, mp_context=fork) as pool:
        ms = per_task_ms(pool, videos_for, [QUERY] * TASKS)
        memory = list(pool.map(memory_of_this_worker, range(WORKERS)))
    report("fork: inherited from the parent", ms, memory)


if __name__ == "__main__":
    main()
