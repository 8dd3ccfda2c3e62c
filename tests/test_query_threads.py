"""Queries from several threads at once give the answers of one thread.

The queries run the core without the interpreter lock, so threads querying one
index overlap in the walk and the ranking; each must still get exactly what a
lone call gets, while the index is pickled, queried long or let go meanwhile.
"""

from __future__ import annotations

import importlib.resources
import pickle
import random
import subprocess
import sys
import textwrap
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

import kelnor
from conftest import child_environment

THREADS = 4
WORDS = importlib.resources.files("kelnor").joinpath("words/sample.txt").read_text("utf-8").split()


def typo(word: str, rng: random.Random) -> str:
    position = rng.randrange(len(word) + 1)
    return word[:position] + rng.choice("aeiouxé") + word[position + 1 :]


@pytest.fixture(scope="module")
def index() -> kelnor.PrefixSearch:
    rng = random.Random(3)
    return kelnor.build(
        (word, rng.randrange(500), rng.randint(1, 100)) for word in WORDS for _ in range(2)
    )


def calls(count: int) -> list:
    """(method, arguments, keyword arguments) over the four query methods, at
    distances 0 to 2, with and without their options, on words with a typo."""
    rng = random.Random(7)
    made = []
    for _ in range(count):
        term = typo(rng.choice(WORDS), rng)
        max_dist = rng.randint(0, 2)
        method = rng.choice(["fuzzy_match", "fuzzy_match_video", "suggest", "search"])
        if method == "fuzzy_match":
            made.append((method, (term, max_dist, rng.choice([None, 3])), {}))
        elif method == "fuzzy_match_video":
            prefix_nodes = rng.choice([None, True, False])
            made.append((method, (term, max_dist, rng.choice([None, 5]), prefix_nodes), {}))
        elif method == "search":
            made.append((method, (f"{term} {typo(rng.choice(WORDS), rng)}", max_dist), {}))
        else:
            options = {"complete": rng.random() < 0.5, "transpositions": rng.random() < 0.5}
            made.append((method, (term[:4], max_dist), options))
    return made


def answer(index: kelnor.PrefixSearch, call: tuple) -> list:
    method, arguments, options = call
    return getattr(index, method)(*arguments, **options)


def test_threads_get_the_answers_of_one_thread(index):
    work = calls(3000)
    alone = [answer(index, call) for call in work]
    with ThreadPoolExecutor(THREADS) as pool:
        together = list(pool.map(lambda call: answer(index, call), work))
    assert together == alone


def test_pickling_and_letting_go_while_threads_query(index):
    image = index.to_bytes()
    shared = [kelnor.PrefixSearch.from_bytes(image)]
    work = calls(400)
    alone = [answer(index, call) for call in work]
    start = threading.Barrier(THREADS + 1)

    def query_all(held: kelnor.PrefixSearch) -> list:
        start.wait()
        return [answer(held, call) for call in work]

    with ThreadPoolExecutor(THREADS) as pool:
        futures = [pool.submit(query_all, shared[0]) for _ in range(THREADS)]
        start.wait()
        copies = [pickle.loads(pickle.dumps(shared[0])) for _ in range(5)]
        shared.clear()  # the threads' calls now hold the only references
        assert [future.result() for future in futures] == [alone] * THREADS
    assert all(copy.to_bytes() == image for copy in copies)


# Daemon threads that query (alone and in batches) while the main thread
# returns: the ending interpreter stops them where they take the lock back.
ENDING_WHILE_QUERYING = textwrap.dedent("""
    import threading

    import kelnor

    index = kelnor.build([(f"w{k}x{k % 7}", k % 50, 1 + k % 9) for k in range(20_000)])
    texts = [f"w{k}y" for k in range(0, 20_000, 7)]
    calls = [
        lambda: index.fuzzy_match("w12345", 3),
        lambda: index.suggest_many(texts, workers=2),
        lambda: index.fuzzy_match_video_many(texts, 2),
    ]
    answered = [threading.Event() for _ in calls]

    def keep_querying(call, once):
        while True:
            call()
            once.set()

    for call, once in zip(calls, answered):
        threading.Thread(target=keep_querying, args=(call, once), daemon=True).start()
    for once in answered:
        once.wait()
    print("ends")
""")


def test_the_program_ends_cleanly_while_daemon_threads_query():
    completed = subprocess.run(
        [sys.executable, "-c", ENDING_WHILE_QUERYING],
        capture_output=True,
        text=True,
        timeout=120,
        env=child_environment(),
    )
    assert (completed.returncode, completed.stdout, completed.stderr) == (0, "ends\n", "")
