"""Indexes pickle through their image once kelnor is imported, so process pools can take them."""

from __future__ import annotations

import copy
import multiprocessing
import operator
import pickle
from concurrent.futures import ProcessPoolExecutor

import pytest

import kelnor
from conftest import pypy_differs

RECORDS = [("harry", 7, 3), ("harold", 9, 1), ("hare", 7, 2), ("été", 4, 5)]
QUERIES = ["harr", "hare", "ete", "h"]


@pytest.fixture(scope="module")
def index():
    return kelnor.build(RECORDS)


def answers(index) -> list:
    return [(index.fuzzy_match(q, 2), index.fuzzy_match_video(q, 2)) for q in QUERIES]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_round_trip_keeps_the_image(index, protocol):
    restored = pickle.loads(pickle.dumps(index, protocol))
    assert type(restored) is type(index)
    assert restored is not index
    assert restored.to_bytes() == index.to_bytes()
    assert answers(restored) == answers(index)


@pytest.mark.parametrize("duplicate", [copy.copy, copy.deepcopy])
def test_copies(index, duplicate):
    assert duplicate(index).to_bytes() == index.to_bytes()


def test_pickle_names_the_restoring_function(index):
    assert b"kelnor.pickling" in pickle.dumps(index)


# "spawn" starts fresh interpreters: unpickling there has to import kelnor to
# register the reducer and restore the index.
SPAWN = multiprocessing.get_context("spawn")


def test_multiprocessing_pool_queries_an_index_sent_to_it(index):
    with SPAWN.Pool(2) as pool:
        remote = pool.map(answers_of, [index] * 3)
        echoed = pool.apply(operator.methodcaller("to_bytes"), (index,))
    assert remote == [answers(index)] * 3
    assert echoed == index.to_bytes()


@pypy_differs("ProcessPoolExecutor cannot start spawned workers (no _adjust_process_count)")
def test_process_pool_executor_queries_an_index_sent_to_it(index):
    with ProcessPoolExecutor(max_workers=2, mp_context=SPAWN) as pool:
        remote = list(pool.map(answers_of, [index] * 3))
    assert remote == [answers(index)] * 3


def answers_of(index) -> list:
    return answers(index)
