"""The batch calls against a loop of single calls.

fuzzy_match_many, fuzzy_match_video_many, suggest_many and search_many
answer each text exactly as the single call does, in input order, on one
thread or several, from a list or an Arrow column; a bad element raises the
single call's error named by its position, and a batch raises what the loop
raises first. pyarrow has no wheels for PyPy, so its cases skip there.
"""

from __future__ import annotations

import gc
import os
import random
import signal
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kelnor
from _kelnor import PrefixSearch
from conftest import pypy_differs
from index_strategies import damaged_images
from outcomes import outcome

NO_PYARROW = "pyarrow is not installed (it has no wheels for PyPy)"

# (single call, batch call, the text's name, options given to both)
METHODS = [
    ("fuzzy_match", "fuzzy_match_many", "term", [{}, {"max_dist": 2, "limit": 3}]),
    (
        "fuzzy_match_video",
        "fuzzy_match_video_many",
        "term",
        [{}, {"max_dist": 0, "include_prefix_nodes": True, "min_score": 0.1}],
    ),
    (
        "suggest",
        "suggest_many",
        "text",
        [{}, {"max_dist": 2, "complete": False, "limit": None}],
    ),
    (
        "search",
        "search_many",
        "text",
        [{}, {"max_dist": 1, "transpositions": False, "limit": 2}],
    ),
]
METHOD_PARAMS = [pytest.param(*method, id=method[1]) for method in METHODS]

ALPHABET = "abcdeé水 "


def random_word(rng: random.Random, longest: int) -> str:
    return (
        "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, longest))).strip()
        or "a"
    )


def random_index(seed: int) -> PrefixSearch:
    rng = random.Random(seed)
    records = [
        (random_word(rng, 9), rng.randrange(30), rng.randint(1, 50)) for _ in range(300)
    ]
    return kelnor.build(records)


def hostile_texts(seed: int) -> list[str]:
    rng = random.Random(seed + 1000)
    texts = [random_word(rng, 12) for _ in range(60)]
    texts += [
        "",
        " ",
        "a" * 5000,
        "ab" * 500_000,
        "é" * 70,
        "水水水",
        "\U0001f600b",
        "a b c d e",
        "\x00a",
    ]
    texts += texts[:3]  # repeats, asked once, each answered with a list of its own
    rng.shuffle(texts)
    return texts


INDEXES = {seed: random_index(seed) for seed in range(3)}


def pyarrow_module():
    return pytest.importorskip("pyarrow", reason=NO_PYARROW)


@pytest.mark.parametrize("seed", sorted(INDEXES))
@pytest.mark.parametrize("single, many, _, option_sets", METHOD_PARAMS)
def test_a_batch_answers_as_the_single_calls(seed, single, many, _, option_sets):
    index = INDEXES[seed]
    texts = hostile_texts(seed)
    for options in option_sets:
        expected = [getattr(index, single)(text, **options) for text in texts]
        for workers in (1, 2, -1):
            assert getattr(index, many)(texts, **options, workers=workers) == expected
        assert getattr(index, many)(tuple(texts), **options) == expected
        assert (
            getattr(index, many)(iter_sequence(texts), **options, workers=2) == expected
        )


@pypy_differs("its collector tracks no objects")
@pytest.mark.parametrize("single, many, _, option_sets", METHOD_PARAMS)
def test_batch_answers_are_distinct_lists_tracked_as_single_answers_are(
    single, many, _, option_sets
):
    index = INDEXES[0]
    texts = hostile_texts(0)
    single_answer = getattr(index, single)(texts[0])
    for workers in (1, 2):
        answers = getattr(index, many)(texts, workers=workers)
        assert [gc.is_tracked(answer) for answer in answers] == [True] * len(texts)
        assert len({id(answer) for answer in answers}) == len(texts)
        assert [gc.is_tracked(item) for item in answers[0]] == [
            gc.is_tracked(item) for item in single_answer
        ]


def looked_at_inside(look, call, at_collections: bool = False) -> int:
    """Runs `call()` with `look(objects)` called from inside it on objects the
    collector tracks: on all of them from a signal handler, a millisecond
    after the last look ended (a batch's calling thread runs handlers when it
    checks for Ctrl-C, every 2 ms, between conversions of answers and while
    the other threads query), or, if `at_collections`, on the youngest ones
    at the start of each collection, which then comes after (nearly) every
    allocation (up to 3.11 the collector runs inside the allocation, from
    3.12 at the next bytecode). Gives the number of looks made while it ran."""
    state = {"running": False, "looks": 0}

    def look_alone(generation: int | None) -> None:
        state["looks"] += 1
        # No other Python thread runs during a look, to change what it sees.
        interval = sys.getswitchinterval()
        sys.setswitchinterval(1000)
        try:
            look(gc.get_objects() if generation is None else gc.get_objects(generation))
        finally:
            sys.setswitchinterval(interval)

    def handler(_number, _frame) -> None:
        if state["running"]:
            look_alone(None)
            signal.setitimer(signal.ITIMER_REAL, 0.001)

    def at_collection(phase, _info) -> None:
        if phase == "start" and state["running"]:
            look_alone(0)

    previous = signal.signal(signal.SIGALRM, handler)
    threshold = gc.get_threshold()
    if at_collections:
        gc.callbacks.append(at_collection)
        gc.set_threshold(1)
    try:
        state["running"] = True
        if not at_collections:
            signal.setitimer(signal.ITIMER_REAL, 0.001)
        call()
    finally:
        state["running"] = False
        signal.setitimer(signal.ITIMER_REAL, 0)
        if at_collections:
            gc.set_threshold(*threshold)
            gc.callbacks.remove(at_collection)
        signal.signal(signal.SIGALRM, previous)
    return state["looks"]


@pypy_differs("its collector tracks no objects")
@pytest.mark.parametrize("single, many, _, option_sets", METHOD_PARAMS)
def test_no_result_list_is_on_the_collectors_lists_until_it_is_whole(
    single, many, _, option_sets
):
    # While a result is made, Python runs: the collector's callbacks and
    # finalizers, and, in a batch, other threads. gc.get_objects() in any of
    # them must not hand out a list while some of its slots are still empty
    # (reading one crashes the process). A list's referents leave out its
    # empty slots, so counting them finds one without reading it.
    texts = [f"{word}{k}" for k, word in enumerate(hostile_texts(0)[:40] * 1000)]
    partial = []

    def look(objects: list) -> None:
        partial.extend(
            len(found)
            for found in objects
            if type(found) is list and len(gc.get_referents(found)) < len(found)
        )

    index = INDEXES[0]
    looks = [
        looked_at_inside(
            look, lambda: [getattr(index, single)(text) for text in texts[:400]], True
        ),
        looked_at_inside(look, lambda: getattr(index, many)(texts, workers=2)),
    ]
    assert [count > 0 for count in looks] == [True, True]
    assert partial == []


@pypy_differs("it has no gc.callbacks")
@pytest.mark.skipif(
    not hasattr(os, "sched_setaffinity") or len(os.sched_getaffinity(0)) < 2,
    reason="needs two cores to run on, and a way to take one away",
)
@pytest.mark.parametrize("cores", [1, 2])
def test_every_core_is_every_core_the_process_may_run_on(cores):
    # A container or taskset may give a process fewer cores than the
    # machine has: workers=-1 starts a thread beside the calling one for each
    # other core it may use, and no more.
    # The threads are told apart from those of the test runner by their ids.
    allowed = os.sched_getaffinity(0)
    texts = [f"{word}{k}" for k, word in enumerate(hostile_texts(0)[:40] * 1000)]
    before = set(os.listdir("/proc/self/task"))
    started = []
    os.sched_setaffinity(0, sorted(allowed)[:cores])
    try:
        looked_at_inside(
            lambda _: started.append(len(set(os.listdir("/proc/self/task")) - before)),
            lambda: INDEXES[0].fuzzy_match_many(texts, workers=-1),
            at_collections=True,
        )
    finally:
        os.sched_setaffinity(0, allowed)
    assert max(started) == cores - 1


class iter_sequence:
    """A sequence that is neither a list nor a tuple: read by iteration."""

    def __init__(self, items: list) -> None:
        self.items = items

    def __len__(self) -> int:
        return len(self.items)

    def __getitem__(self, position: int) -> object:
        return self.items[position]


@pytest.mark.parametrize("single, many, _, option_sets", METHOD_PARAMS)
@pytest.mark.parametrize(
    "arrow_type", ["string", "large_string", "string_view", "chunked"]
)
def test_an_arrow_column_answers_as_the_list(single, many, _, option_sets, arrow_type):
    pa = pyarrow_module()
    index = INDEXES[0]
    texts = hostile_texts(0)
    if arrow_type == "chunked":
        column = pa.chunked_array([texts[:10], texts[10:10], texts[10:]], pa.string())
    else:
        column = pa.array(texts, getattr(pa, arrow_type)())
    expected = [getattr(index, single)(text) for text in texts]
    for workers in (1, 2):
        assert getattr(index, many)(column, workers=workers) == expected
    sliced = pa.array(texts, pa.string()).slice(5, 20)
    assert getattr(index, many)(sliced) == expected[5:25]
    dictionary = pa.array(texts, pa.string()).dictionary_encode()
    assert getattr(index, many)(dictionary) == expected


@settings(max_examples=40, deadline=None)
@given(
    damaged_images(),
    st.lists(st.text(alphabet="abcx", max_size=4), min_size=1, max_size=6),
    st.sampled_from(METHODS),
)
def test_a_damaged_index_fails_as_the_first_failing_single_call(image, texts, method):
    single, many, _, _ = method
    try:
        index = PrefixSearch.from_bytes(image)
    except ValueError:
        return
    expected = outcome(
        lambda: [getattr(index, single)(text, max_dist=2) for text in texts]
    )
    for workers in (1, 2):
        assert (
            outcome(lambda: getattr(index, many)(texts, max_dist=2, workers=workers))
            == expected
        )


def single_error(call) -> BaseException:
    with pytest.raises(Exception) as raised:
        call()
    return raised.value


@pytest.mark.parametrize("single, many, name, _", METHOD_PARAMS)
@pytest.mark.parametrize("bad", [3, None, b"ab", ["a"], "\ud800x"], ids=repr)
@pytest.mark.parametrize("position", [0, 4])
def test_a_bad_element_raises_the_single_calls_error_with_its_position(
    single, many, name, _, bad, position
):
    index = INDEXES[1]
    texts = ["abc", "bad", "b", "ca", "cab", "d"]
    texts[position] = bad
    expected = single_error(lambda: getattr(index, single)(bad))
    for workers in (1, 2):
        raised = single_error(lambda: getattr(index, many)(texts, workers=workers))
        assert type(raised) is type(expected)
        if isinstance(expected, UnicodeEncodeError):
            assert str(raised) == str(expected)
            assert raised.__notes__ == [f"in argument '{name}s[{position}]'"]
        else:
            assert str(raised) == str(expected).replace(
                f"argument '{name}'", f"argument '{name}s[{position}]'"
            )


WORDS_40 = " ".join(["word"] * 40)


@pytest.mark.parametrize(
    "texts, message",
    [
        (
            ["a", WORDS_40, "b", 3],
            "argument 'texts[1]': PrefixSearch.search() takes at most 32",
        ),
        (
            ["a", 3, "b", WORDS_40],
            "argument 'texts[1]': 'int' object cannot be converted",
        ),
        (
            ["a", "b", WORDS_40, WORDS_40],
            "argument 'texts[2]': PrefixSearch.search() takes",
        ),
        # Answered in the order of their first bytes, the last fails first.
        (
            ["a", "zz " + WORDS_40, "b", WORDS_40],
            "argument 'texts[1]': PrefixSearch.search() takes",
        ),
    ],
)
def test_a_batch_raises_what_the_loop_raises_first(texts, message):
    index = INDEXES[2]
    for workers in (1, 2):
        with pytest.raises((TypeError, ValueError)) as raised:
            index.search_many(texts, workers=workers)
        assert str(raised.value).startswith(message)


def test_arrow_elements_that_are_no_text_name_their_position():
    pa = pyarrow_module()
    index = INDEXES[0]
    with pytest.raises(TypeError) as raised:
        index.fuzzy_match_many(pa.array(["a", "b", None]))
    assert str(raised.value) == (
        "argument 'terms[2]': 'NoneType' object cannot be converted to 'PyString'"
    )
    not_utf8 = pa.Array.from_buffers(
        pa.string(),
        2,
        [
            None,
            pa.py_buffer(bytes([0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0])),
            pa.py_buffer(b"a\xff"),
        ],
    )
    with pytest.raises(ValueError) as raised:
        index.suggest_many(not_utf8)
    assert (
        str(raised.value) == "argument 'texts[1]': the Arrow array's text is not UTF-8"
    )
    key_outside = pa.DictionaryArray.from_arrays(
        pa.array([0, 5], type=pa.int32()), pa.array(["a", "b"]), safe=False
    )
    with pytest.raises(ValueError) as raised:
        index.fuzzy_match_many(key_outside)
    assert str(raised.value) == "argument 'terms[1]': the text lies outside the Arrow array's data"

    def failing():
        yield pa.record_batch([pa.array(["a"])], names=["x"])
        raise OSError("gone")

    reader = pa.RecordBatchReader.from_batches(pa.schema([("x", pa.string())]), failing())
    with pytest.raises(ValueError, match="^the stream of argument 'terms' failed to give a batch: .*gone"):
        index.fuzzy_match_many(reader)
    for many, name in [("fuzzy_match_many", "terms"), ("suggest_many", "texts")]:
        with pytest.raises(TypeError) as raised:
            getattr(index, many)(pa.array([1, 2]))
        assert str(raised.value) == (
            f"argument '{name}' has type int64, not strings (string, large_string or string_view)"
        )


class FailingLookups(list):
    """A list whose attribute lookups fail, as a broken proxy's may."""

    def __getattr__(self, name: str) -> object:
        raise RuntimeError(f"no looking up {name}")


def test_a_failing_lookup_of_the_arrow_protocol_is_raised_as_hasattr_raises_it():
    with pytest.raises(RuntimeError, match="^no looking up __arrow_c_array__$"):
        INDEXES[0].fuzzy_match_many(FailingLookups(["a"]))


class TakenArray:
    """An Arrow producer whose array was already taken by someone else."""

    def __arrow_c_array__(self, requested_schema: object = None) -> tuple:
        pa = pyarrow_module()
        schema, array = pa.array(["a"]).__arrow_c_array__()
        pa.Array._import_from_c_capsule(schema, array)
        return pa.array(["a"]).__arrow_c_array__()[0], array


@pytest.mark.parametrize(
    "texts, kwargs, error, message",
    [
        ("abc", {}, TypeError, "argument 'terms': Can't extract `str` to `Vec`"),
        (
            5,
            {},
            TypeError,
            "argument 'terms': 'int' object cannot be converted to 'Sequence'",
        ),
        (
            ["a"],
            {"workers": 0},
            ValueError,
            "workers must be -1 (every core) or a count from 1, not 0",
        ),
        (
            ["a"],
            {"workers": -2},
            ValueError,
            "workers must be -1 (every core) or a count from 1, not -2",
        ),
        (
            ["a"],
            {"workers": "2"},
            TypeError,
            "argument 'workers': 'str' object cannot be converted to 'int'",
        ),
        (["a"], {"max_dist": -1}, OverflowError, None),
        # The options are checked first, even for no texts or a bad one.
        ([], {"max_dist": -1}, OverflowError, None),
        ([3], {"max_dist": -1}, OverflowError, None),
        # A range too long for an index is read like any sequence: it holds no text.
        (
            range(2**33),
            {},
            TypeError,
            "argument 'terms[0]': 'int' object cannot be converted to 'PyString'",
        ),
        (["a"], {"limit": "x"}, TypeError, None),
        (TakenArray(), {}, ValueError, "the 'arrow_array' was already taken"),
    ],
)
def test_bad_arguments_are_refused_once(texts, kwargs, error, message):
    index = INDEXES[0]
    if message is None:  # an option: refused exactly as the single call refuses it
        message = str(single_error(lambda: index.fuzzy_match("a", **kwargs)))
    with pytest.raises(error) as raised:
        index.fuzzy_match_many(texts, **kwargs)
    assert str(raised.value) == message


def test_workers_is_keyword_only_and_more_workers_than_texts_is_fine():
    index = INDEXES[0]
    with pytest.raises(TypeError):
        index.fuzzy_match_many(["a"], 1, None, 2)
    assert index.fuzzy_match_many(["ab", "b"], workers=1000) == [
        index.fuzzy_match("ab"),
        index.fuzzy_match("b"),
    ]
    assert index.search_many([], workers=-1) == []
