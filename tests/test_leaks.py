"""Memory stays flat when every method runs thousands of times, on every path.

Each scenario is one call that either succeeds or fails in one known way:
binder errors, conversion errors, build check errors, decode errors and
PanicException on a damaged index. After a warm-up, a batch of the same call
must leave the interpreter's allocated blocks (CPython) and the process's
resident size where they were, and must not change the reference counts of the
arguments (CPython). The heavy scenarios move hundreds of kilobytes of native
memory per call, so that a native leak shows in the resident size within a few
hundred calls.
"""

from __future__ import annotations

import gc
import os
import random
import sys
from dataclasses import dataclass, field
from functools import lru_cache
from typing import Callable, Dict, Optional

import pytest

import model_image
from _kelnor import PrefixSearch
from conftest import ON_PYPY, pypy_differs
from host_data import (
    InternalData,
    int_video_index,
    internal_data,
    two_node_args,
    uuid_video_index,
)
from host_objects import FailingAt, Index, NumpyBool
from memory_figures import RESIDENT_SIZE_IS_MEANINGFUL, resident_bytes
from model_trie import ModelTrie

pytestmark = pytest.mark.skipif(
    not os.path.exists("/proc/self/statm"), reason="reads the resident size from /proc"
)

LIGHT_ROUNDS, LIGHT_WARMUP = 1000, 200
HEAVY_ROUNDS, HEAVY_WARMUP = 150, 15
BATCHES = 3
# Allowed growth over a batch: a tenth of a block per call, so that a leak of
# one object per call shows, and a resident size far below what a leak of the
# native memory of every heavy call would add.
RSS_TOLERANCE = (48 if ON_PYPY else 4) * 2**20


def allocated_blocks() -> int:
    return 0 if ON_PYPY else sys.getallocatedblocks()


def settle() -> None:
    for _ in range(3 if ON_PYPY else 1):
        gc.collect()


# ---------------------------------------------------------------- indexes


@lru_cache(maxsize=None)
def large_data() -> InternalData:
    """About 8000 nodes: every heavy call converts, builds or decodes all of them."""
    rng = random.Random(5)
    entries = []
    for _ in range(1500):
        word = "".join(rng.choice("abcdefghijklmnop") for _ in range(rng.randint(3, 9)))
        videos = rng.sample(range(40), 3)
        entries.append((word, (rng.randint(1, 99), videos, [rng.randint(1, 9) for _ in videos])))
    return internal_data(entries, int_video_index(range(7000, 7040)), video_top_n=5)


def large_args(**changes) -> tuple:
    data = large_data()
    arguments = dict(zip(ARGUMENT_NAMES, data.args()))
    arguments.update(changes)
    return tuple(arguments.values())


ARGUMENT_NAMES = (
    "node_shifts",
    "child_labels",
    "payloads",
    "child_transitions",
    "video_index",
    "video_top_n",
)


@lru_cache(maxsize=None)
def large_index() -> PrefixSearch:
    return PrefixSearch.from_internal_data_v2(*large_args())


@lru_cache(maxsize=None)
def large_image() -> bytes:
    return large_index().to_bytes()


@lru_cache(maxsize=None)
def small_index() -> PrefixSearch:
    data = internal_data(
        [("apple", (3, [0], [3])), ("apply", (2, [1], [2])), ("banana", (1, [0, 1], [1, 1]))],
        uuid_video_index([bytes(range(16)), bytes(range(16, 32))]),
    )
    return PrefixSearch.from_internal_data_v2(*data.args())


# A line of nodes a, aa, aaa whose last node lists a child outside every
# array, and whose payload has more video ids than counts: a query that
# reaches it fails after its distance table has grown to three rows.
DAMAGED_TRIE = ModelTrie(
    node_shifts=[0, 1, 2, 3],
    child_labels=[0, ord("a"), ord("a"), ord("a")],
    child_transitions=[1, 2, 3, 99],
    payloads=[None, None, None, (5, [0, 1, 2], [1])],
    video_int_ids=[1, 2, 3],
    id_mode=1,
    is_terminal=[False, False, False, True],
)


@lru_cache(maxsize=None)
def damaged_index() -> PrefixSearch:
    return PrefixSearch.from_bytes(model_image.encode(DAMAGED_TRIE))


# ---------------------------------------------------------------- scenarios


@dataclass
class Scenario:
    function: Callable
    args: tuple = ()
    kwargs: Dict[str, object] = field(default_factory=dict)
    raises: Optional[str] = None  # the name of the exception type, None for success
    heavy: bool = False

    def call(self) -> None:
        try:
            self.function(*self.args, **self.kwargs)
        except BaseException as error:
            if type(error).__name__ != self.raises:
                raise
        else:
            assert self.raises is None, f"expected {self.raises}"

    def arguments(self) -> list:
        """The arguments, and the receiver of a bound method."""
        receiver = getattr(self.function, "__self__", None)
        receivers = [receiver] if isinstance(receiver, PrefixSearch) else []
        return [*receivers, *self.args, *self.kwargs.values()]


def is_shared(value: object) -> bool:
    """Whether the interpreter shares `value` process-wide (its count moves on its own)."""
    small_int = type(value) is int and -5 <= value <= 256
    return value is None or isinstance(value, bool) or small_int or value in ((), b"", "")


build = PrefixSearch.from_internal_data_v2
restore = PrefixSearch.from_bytes


def on_small(method: str, *args, raises: Optional[str] = None, **kwargs) -> Scenario:
    return Scenario(getattr(small_index(), method), args, kwargs, raises)


def last_node_range_past_the_transitions() -> tuple:
    shifts = list(large_data().node_shifts)
    shifts[-1] = len(large_data().child_transitions) + 5
    return large_args(node_shifts=shifts)


def last_payload_of_two_items() -> tuple:
    payloads = list(large_data().payloads)
    payloads[-1] = (1, [0])
    return large_args(payloads=payloads)


def failing_after_the_last(items: list) -> list:
    return FailingAt(items, len(items), ValueError)


def image_with(position: int, value: int) -> bytes:
    image = bytearray(large_image())
    image[position] = value
    return bytes(image)


LONG_TERM = "z" * 5000

SCENARIOS: Dict[str, Callable[[], Scenario]] = {
    # from_internal_data_v2
    "build": lambda: Scenario(build, two_node_args()),
    "build large": lambda: Scenario(build, large_args(), heavy=True),
    "build too many positional": lambda: Scenario(build, two_node_args() + (1,), raises="TypeError"),
    "build unexpected keyword": lambda: Scenario(
        build, two_node_args(), {"extra": 1}, raises="TypeError"
    ),
    "build given twice": lambda: Scenario(
        build, two_node_args(), {"video_top_n": 1}, raises="TypeError"
    ),
    "build missing": lambda: Scenario(build, ([0], [""]), raises="TypeError"),
    "node_shifts not a sequence": lambda: Scenario(
        build, two_node_args(node_shifts={0, 1}), raises="TypeError"
    ),
    "label not a str": lambda: Scenario(
        build, two_node_args(child_labels=["", 7]), raises="TypeError"
    ),
    "label without UTF-8": lambda: Scenario(
        build, two_node_args(child_labels=["", "\ud800"]), raises="UnicodeEncodeError"
    ),
    "payloads a str": lambda: Scenario(build, two_node_args(payloads="ab"), raises="TypeError"),
    "transition too big": lambda: Scenario(
        build, two_node_args(child_transitions=[2**32]), raises="OverflowError"
    ),
    "video entry a str": lambda: Scenario(
        build, two_node_args(video_index=["abcd"]), raises="TypeError"
    ),
    "video byte too big": lambda: Scenario(
        build, two_node_args(video_index=[[1, 2, 3, 256]]), raises="OverflowError"
    ),
    "video_top_n None": lambda: Scenario(build, two_node_args(video_top_n=None), raises="TypeError"),
    "video_top_n raising TypeError": lambda: Scenario(
        build, two_node_args(video_top_n=Index(TypeError)), raises="TypeError"
    ),
    "iteration raising": lambda: Scenario(
        build, two_node_args(child_transitions=FailingAt([1], 1, ValueError)), raises="ValueError"
    ),
    "node_shifts length": lambda: Scenario(build, two_node_args(node_shifts=[0]), raises="ValueError"),
    "payloads length": lambda: Scenario(build, two_node_args(payloads=[None]), raises="ValueError"),
    "transition out of range": lambda: Scenario(
        build, two_node_args(child_transitions=[2]), raises="ValueError"
    ),
    "payload not a tuple": lambda: Scenario(
        build, two_node_args(payloads=[None, [1, [0], [1]]]), raises="TypeError"
    ),
    "payload of two items": lambda: Scenario(
        build, two_node_args(payloads=[None, (1, [0])]), raises="ValueError"
    ),
    "payload total too big": lambda: Scenario(
        build, two_node_args(payloads=[None, (2**32, [0], [1])]), raises="OverflowError"
    ),
    "payload list a str": lambda: Scenario(
        build, two_node_args(payloads=[None, (1, "0", [1])]), raises="TypeError"
    ),
    "payload list not a sequence": lambda: Scenario(
        build, two_node_args(payloads=[None, (1, [0], 1)]), raises="TypeError"
    ),
    "payload lists of unequal length": lambda: Scenario(
        build, two_node_args(payloads=[None, (1, [0, 1], [1])]), raises="ValueError"
    ),
    "video table of mixed lengths": lambda: Scenario(
        build, two_node_args(video_index=[bytes(4), bytes(16)]), raises="ValueError"
    ),
    "propagation panic": lambda: Scenario(
        build, two_node_args(node_shifts=[0, 2]), raises="PanicException"
    ),
    "large, last argument wrong": lambda: Scenario(
        build, large_args(video_top_n=-1), raises="OverflowError", heavy=True
    ),
    "large, last payload wrong": lambda: Scenario(
        build, last_payload_of_two_items(), raises="ValueError", heavy=True
    ),
    "large, video table wrong": lambda: Scenario(
        build, large_args(video_index=[bytes(5)]), raises="ValueError", heavy=True
    ),
    "large, propagation panic": lambda: Scenario(
        build, last_node_range_past_the_transitions(), raises="PanicException", heavy=True
    ),
    "large, iteration raising": lambda: Scenario(
        build,
        large_args(child_transitions=failing_after_the_last(large_data().child_transitions)),
        raises="ValueError",
        heavy=True,
    ),
    # to_bytes and from_bytes
    "to_bytes": lambda: Scenario(small_index().to_bytes),
    "to_bytes large": lambda: Scenario(large_index().to_bytes, heavy=True),
    "from_bytes": lambda: Scenario(restore, (small_index().to_bytes(),)),
    "from_bytes large": lambda: Scenario(restore, (large_image(),), heavy=True),
    "from_bytes by keyword": lambda: Scenario(restore, (), {"b": bytes(8)}),
    "from_bytes missing": lambda: Scenario(restore, raises="TypeError"),
    "from_bytes given twice": lambda: Scenario(restore, (b"",), {"b": b""}, raises="TypeError"),
    "from_bytes of bytearray": lambda: Scenario(restore, (bytearray(8),), raises="TypeError"),
    "decode empty": lambda: Scenario(restore, (b"",), raises="ValueError"),
    "decode integer marker": lambda: Scenario(restore, (b"\x01\xfd",), raises="ValueError"),
    "decode huge count": lambda: Scenario(
        restore, (b"\xfd" + (2**40).to_bytes(8, "little"),), raises="ValueError"
    ),
    "decode bad label": lambda: Scenario(restore, (b"\x00\x01\xc3\x28",), raises="ValueError"),
    "decode payload tag": lambda: Scenario(
        restore, (b"\x00\x00\x00\x01\x02",), raises="ValueError"
    ),
    "decode id mode": lambda: Scenario(restore, (bytes(6) + b"\x02",), raises="ValueError"),
    "decode boolean": lambda: Scenario(restore, (bytes(7) + b"\x01\x02",), raises="ValueError"),
    "decode large, cut short": lambda: Scenario(
        restore, (large_image()[:-1],), raises="ValueError", heavy=True
    ),
    "decode large, last flag wrong": lambda: Scenario(
        restore, (image_with(-1, 2),), raises="ValueError", heavy=True
    ),
    # fuzzy_match
    "match": lambda: on_small("fuzzy_match", "appel", 2),
    "match large": lambda: Scenario(large_index().fuzzy_match, ("abc", 2)),
    "match long term": lambda: Scenario(large_index().fuzzy_match, (LONG_TERM, 0), heavy=True),
    "match by keyword": lambda: on_small("fuzzy_match", term="apple", limit=1),
    "match too many positional": lambda: on_small("fuzzy_match", "a", 1, 1, 1, raises="TypeError"),
    "match unexpected keyword": lambda: on_small("fuzzy_match", "a", text=1, raises="TypeError"),
    "match missing": lambda: on_small("fuzzy_match", raises="TypeError"),
    "match term not a str": lambda: on_small("fuzzy_match", b"a", raises="TypeError"),
    "match term without UTF-8": lambda: on_small(
        "fuzzy_match", "\udc80", raises="UnicodeEncodeError"
    ),
    "match max_dist None": lambda: on_small("fuzzy_match", "a", None, raises="TypeError"),
    "match max_dist too big": lambda: on_small("fuzzy_match", "a", 2**32, raises="OverflowError"),
    "match max_dist negative": lambda: on_small("fuzzy_match", "a", -1, raises="OverflowError"),
    "match limit raising TypeError": lambda: on_small(
        "fuzzy_match", "a", 1, Index(TypeError), raises="TypeError"
    ),
    "match panic": lambda: Scenario(
        damaged_index().fuzzy_match, ("aaa", 1), raises="PanicException"
    ),
    "match panic, long term": lambda: Scenario(
        damaged_index().fuzzy_match, (LONG_TERM, 65535), raises="PanicException", heavy=True
    ),
    # fuzzy_match_video
    "video": lambda: on_small("fuzzy_match_video", "appel", 2, 5, True, 0.0),
    "video large": lambda: Scenario(large_index().fuzzy_match_video, ("abc", 2)),
    "video long term": lambda: Scenario(
        large_index().fuzzy_match_video, (LONG_TERM, 0, None, True), heavy=True
    ),
    "video numpy-like flag": lambda: on_small("fuzzy_match_video", "apple", 1, None, NumpyBool(True)),
    "video too many positional": lambda: on_small(
        "fuzzy_match_video", *"abcdef", raises="TypeError"
    ),
    "video missing": lambda: on_small("fuzzy_match_video", min_score=1.0, raises="TypeError"),
    "video flag an int": lambda: on_small("fuzzy_match_video", "a", 1, None, 1, raises="TypeError"),
    "video min_score a str": lambda: on_small(
        "fuzzy_match_video", "a", 1, None, None, "x", raises="TypeError"
    ),
    "video min_score too big": lambda: on_small(
        "fuzzy_match_video", "a", 1, None, None, 2**2000, raises="OverflowError"
    ),
    "video panic": lambda: Scenario(
        damaged_index().fuzzy_match_video, ("aaa", 1), raises="PanicException"
    ),
    # the batch calls
    "batch": lambda: on_small("fuzzy_match_many", ["appel", "x", ""], 2, workers=2),
    "batch suggest": lambda: on_small("suggest_many", ("ap", "appl"), workers=-1),
    "batch bad element": lambda: on_small("fuzzy_match_many", ["a", 3], raises="TypeError"),
    "batch surrogate element": lambda: on_small(
        "fuzzy_match_video_many", ["a", "\udc80"], raises="UnicodeEncodeError"
    ),
    "batch too many words": lambda: on_small(
        "search_many", ["a", "w " * 40], workers=2, raises="ValueError"
    ),
    "batch bad workers": lambda: on_small("fuzzy_match_many", ["a"], workers=0, raises="ValueError"),
    "batch damaged": lambda: Scenario(
        damaged_index().fuzzy_match_many, (["aaa", "a"], 1), {"workers": 2}, raises="PanicException"
    ),
    # the type itself
    "no constructor": lambda: Scenario(PrefixSearch, (1,), {"x": 2}, raises="TypeError"),
}


def growth_of_a_batch(scenario: Scenario, rounds: int) -> tuple:
    settle()
    blocks, resident = allocated_blocks(), resident_bytes()
    for _ in range(rounds):
        scenario.call()
    settle()
    return allocated_blocks() - blocks, resident_bytes() - resident


@pytest.fixture
def heap_of_the_test_alone():
    """The objects alive before the test out of the cycle collector's sight
    (where it can set them apart), so that each collection walks only what the
    test made: in a whole run the heap holds the session's indexes and models,
    which would make every collection of a batch a hundred times longer."""
    settle()
    if not hasattr(gc, "freeze"):
        yield
        return
    gc.freeze()
    try:
        yield
    finally:
        gc.unfreeze()


@pytest.mark.usefixtures("heap_of_the_test_alone")
@pytest.mark.parametrize("make", SCENARIOS.values(), ids=SCENARIOS.keys())
def test_memory_stays_flat(make):
    scenario = make()
    rounds, warmup = (
        (HEAVY_ROUNDS, HEAVY_WARMUP) if scenario.heavy else (LIGHT_ROUNDS, LIGHT_WARMUP)
    )
    for _ in range(warmup):
        scenario.call()
    # Caches, free lists and the JIT may grow once; a leak grows in every batch.
    growths = []
    for _ in range(BATCHES):
        blocks, resident = growth_of_a_batch(scenario, rounds)
        growths.append((blocks, resident))
        resident_flat = resident <= RSS_TOLERANCE or not RESIDENT_SIZE_IS_MEANINGFUL
        if blocks <= rounds // 10 and resident_flat:
            return
    pytest.fail(f"(allocated blocks, resident bytes) grew by {growths} over batches of {rounds}")


@pypy_differs("no reference counts")
@pytest.mark.parametrize("make", SCENARIOS.values(), ids=SCENARIOS.keys())
def test_argument_references_unchanged(make):
    scenario = make()
    scenario.call()
    owned = [value for value in scenario.arguments() if not is_shared(value)]
    before = [sys.getrefcount(value) for value in owned]
    for _ in range(20):
        scenario.call()
    assert [sys.getrefcount(value) for value in owned] == before


# A line of 300 nodes, so that a node number (299) is an integer object of
# its own, unlike the small integers the interpreter shares.
LINE_END = 299


def line_with(field: str, position: int, value: Index) -> tuple:
    data = internal_data([("a" * LINE_END, (1, [0], [1]))], int_video_index([7]))
    arguments = dict(zip(ARGUMENT_NAMES, data.args()))
    assert arguments[field][position] == LINE_END
    arguments[field][position] = value
    return tuple(arguments.values())


# Every place that reads an integer by __index__ and goes on to succeed: the
# integer that __index__ returns must be released once it is read.
INDEX_PLACES: Dict[str, Callable[[Index], Scenario]] = {
    "max_dist": lambda value: on_small("fuzzy_match", "apple", value),
    "limit": lambda value: on_small("fuzzy_match", "apple", 1, value),
    "video limit": lambda value: on_small("fuzzy_match_video", "apple", 1, value),
    "node shift": lambda value: Scenario(build, line_with("node_shifts", -1, value)),
    "child transition": lambda value: Scenario(build, line_with("child_transitions", -1, value)),
    "payload total": lambda value: Scenario(
        build, two_node_args(payloads=[None, (value, [0], [1])])
    ),
    "payload video position": lambda value: Scenario(
        build, two_node_args(payloads=[None, (1, [value], [1])])
    ),
    "payload count": lambda value: Scenario(
        build, two_node_args(payloads=[None, (1, [0], [value])])
    ),
    "video_top_n": lambda value: Scenario(build, two_node_args(video_top_n=value)),
}


@pypy_differs("no reference counts")
@pytest.mark.parametrize("make", INDEX_PLACES.values(), ids=INDEX_PLACES.keys())
def test_integers_given_by_index_are_released(make):
    integer = int(str(LINE_END))  # made at run time: no constant holds it
    scenario = make(Index(integer))
    scenario.call()
    before = sys.getrefcount(integer)
    for _ in range(1000):
        scenario.call()
    assert sys.getrefcount(integer) == before
