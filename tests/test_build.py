"""Building an index from the host's arrays: conversions, checks, propagation.

The extension is compared with the Python model of the build (model_build)
through the index image: the same arguments must give the same image bytes, or
the same exception type and message.
"""

from __future__ import annotations

import os
import sys
from collections import namedtuple

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _kelnor import PrefixSearch
from conftest import ON_PYPY, pypy_differs
from host_data import (
    TWO_TERMS,
    int_video_index,
    internal_data,
    two_node_args,
    uuid_video_index,
)
from host_objects import ByIndex, Clears, FailingAt, LyingLength, ReplacesNext
from model_build import (
    NEGATIVE_TO_UNSIGNED,
    OUT_OF_RANGE,
    TOO_BIG_TO_CONVERT,
    U32_MAX,
    ModelPanic,
    build,
)
from model_image import encode
from model_trie import INT32, UUID, ModelTrie

WORD_LIST = "/usr/share/dict/american-english"
VIDEO_MESSAGE = "video_index entries must be all 16 bytes (UUID) or all 4 bytes (int32)"
INTERPRETER_WORDED = (
    NEGATIVE_TO_UNSIGNED,
    TOO_BIG_TO_CONVERT,
    "cannot be interpreted as an integer",
    "codec can't encode",
)


# ------------------------------------------------------------ comparison


def extension_outcome(args: tuple) -> tuple:
    """("ok", image) or (exception type name, message) of the extension's build."""
    try:
        return ("ok", PrefixSearch.from_internal_data_v2(*args).to_bytes())
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # PanicException derives from BaseException
        return (type(error).__name__, str(error))


def model_outcome(args: tuple) -> tuple:
    try:
        return ("ok", encode(build(*args)))
    except ModelPanic as error:
        return ("PanicException", str(error))
    except Exception as error:
        return (type(error).__name__, str(error))


def assert_same_outcome(args: tuple) -> tuple:
    actual = extension_outcome(args)
    expected = model_outcome(args)
    interpreter_worded = expected[0] != "ok" and any(t in expected[1] for t in INTERPRETER_WORDED)
    if ON_PYPY and interpreter_worded:
        assert actual[0] == expected[0]
    else:
        assert actual == expected
    return actual


def built(args: tuple) -> ModelTrie:
    """The model's index for `args`, after checking that the extension built the same."""
    model = build(*args)
    assert PrefixSearch.from_internal_data_v2(*args).to_bytes() == encode(model)
    return model


def expect_error(args: tuple, error_type: type, message: str) -> None:
    """Both the extension and the model refuse `args` with exactly this error."""
    for make in (PrefixSearch.from_internal_data_v2, build):
        with pytest.raises(error_type) as info:
            make(*args)
        assert type(info.value) is error_type
        assert str(info.value) == message


def arrays(children: list, payloads: list, top_n: int = 10, video_index: list = ()) -> tuple:
    """Arguments for a trie given as each node's list of child numbers."""
    shifts, transitions = [], []
    for kids in children:
        shifts.append(len(transitions))
        transitions.extend(kids)
    labels = [""] + ["a"] * (len(children) - 1)
    return (shifts, labels, payloads, transitions, list(video_index), top_n)


def valid(**changes) -> tuple:
    """The two-node trie without a video table, but for `changes`."""
    return two_node_args(**{"video_index": [], **changes})


# ------------------------------------------------------ worked example


def test_two_terms_example():
    assert built(TWO_TERMS) == ModelTrie(
        node_shifts=[0, 1, 3, 3],
        child_labels=[0, ord("a"), ord("b"), ord("c")],
        child_transitions=[1, 2, 3],
        payloads=[(8, [0, 1], [6, 2]), (8, [0, 1], [6, 2]), (5, [0], [5]), (3, [1, 0], [2, 1])],
        video_uuids=[],
        video_int_ids=[7, 9],
        id_mode=INT32,
        is_terminal=[False, False, True, True],
    )


def test_empty_arrays_give_an_index_without_nodes():
    assert extension_outcome(([], [], [], [], [], 0)) == ("ok", bytes(8))
    assert extension_outcome(([], [], [], [], [b"\1\0\0\0"], 0)) == (
        "ok",
        bytes([0, 0, 0, 0, 0, 1, 1, 1, 0]),
    )


# ------------------------------------------------------------ propagation

MAX = U32_MAX

PROPAGATION_CASES = {
    "leaf keeps its given order and repeats, only cut": (
        [[]],
        [(0, [5, 3, 5], [1, 9, 2])],
        2,
        [(0, [5, 3], [1, 9])],
    ),
    "counts of one video are summed and ranked": (
        [[1], []],
        [(4, [1], [4]), (8, [1, 2], [1, 7])],
        2,
        [(12, [2, 1], [7, 5]), (8, [1, 2], [1, 7])],
    ),
    "an empty child still sums and sorts the node's own list": (
        [[1], []],
        [(0, [5, 3, 5], [1, 9, 2]), None],
        5,
        [(0, [3, 5], [9, 3]), (0, [], [])],
    ),
    "totals saturate": (
        [[1], []],
        [(10, [], []), (4294967290, [], [])],
        1,
        [(MAX, [], []), (4294967290, [], [])],
    ),
    "equal totals rank by ascending video id": (
        [[1, 2], [], []],
        [(0, [7], [3]), (0, [2], [3]), (0, [4], [3])],
        2,
        [(0, [2, 4], [3, 3]), (0, [2], [3]), (0, [4], [3])],
    ),
    "top_n 0 empties every list but keeps the totals": (
        [[1], []],
        [(1, [1], [1]), (2, [2], [2])],
        0,
        [(3, [], []), (2, [], [])],
    ),
    "a child numbered below its parent gives only its own payload": (
        [[2], [3], [1], []],
        [None, (1, [1], [1]), None, (5, [3], [5])],
        10,
        [(1, [1], [1]), (6, [3, 1], [5, 1]), (1, [1], [1]), (5, [3], [5])],
    ),
    "a child listed twice is merged twice": (
        [[1, 1], []],
        [(0, [], []), (2, [4], [3])],
        10,
        [(4, [4], [6]), (2, [4], [3])],
    ),
    "a node listed as its own child is passed over": (
        [[0]],
        [(1, [5, 3, 5], [1, 9, 2])],
        10,
        [(1, [5, 3, 5], [1, 9, 2])],
    ),
    "its own entry does not count twice beside another child": (
        [[0, 1], []],
        [(1, [5], [1]), (1, [6], [2])],
        10,
        [(2, [6, 5], [2, 1]), (1, [6], [2])],
    ),
    "a node without payload gets its children's": (
        [[1], []],
        [None, (3, [1], [2])],
        10,
        [(3, [1], [2]), (3, [1], [2])],
    ),
    "a child contributes its cut list, cut in its given order": (
        [[1], []],
        [(0, [], []), (0, [1, 2], [1, 5])],
        1,
        [(0, [1], [1]), (0, [1], [1])],
    ),
    "counts above the 32-bit range are stored saturated, ranked by the full sum": (
        [[1], []],
        [(0, [1, 5], [MAX, MAX]), (0, [1, 5], [1, MAX])],
        10,
        [(0, [5, 1], [MAX, MAX]), (0, [1, 5], [1, MAX])],
    ),
    "a node with nothing of its own passes its one child's merge up as it is": (
        [[1], [2], []],
        [None, None, (4, [7, 3, 7], [1, 2, 5])],
        2,
        [(4, [3, 7], [2, 1]), (4, [3, 7], [2, 1]), (4, [7, 3], [1, 2])],
    ),
    "a node's own total joins its one child's merge": (
        [[1], [2], []],
        [(5, [], []), None, (4, [7, 3, 7], [1, 2, 5])],
        2,
        [(9, [3, 7], [2, 1]), (4, [3, 7], [2, 1]), (4, [7, 3], [1, 2])],
    ),
    "sums saturated apart are ranked again when merged alone": (
        [[1], [2], []],
        [None, None, (0, [0, 1, 1], [MAX, 1, MAX])],
        3,
        [(0, [0, 1], [MAX, MAX]), (0, [1, 0], [MAX, MAX]), (0, [0, 1, 1], [MAX, 1, MAX])],
    ),
    "a subtree reaches the root through children numbered above their parents": (
        [[1, 3], [2], [], []],
        [None, (1, [0], [1]), (1, [0], [2]), (1, [1], [2])],
        10,
        [(3, [0, 1], [3, 2]), (2, [0], [3]), (1, [0], [2]), (1, [1], [2])],
    ),
}


@pytest.mark.parametrize(
    "children, payloads, top_n, expected",
    PROPAGATION_CASES.values(),
    ids=PROPAGATION_CASES.keys(),
)
def test_propagation(children, payloads, top_n, expected):
    model = built(arrays(children, payloads, top_n))
    assert model.payloads == expected
    assert model.is_terminal == [payload is not None for payload in payloads]


@pytest.mark.parametrize(
    "node_shifts, child_transitions, message",
    [
        ([0, 2], [1], "index out of bounds: the len is 1 but the index is 1"),
        ([0, 3, 5], [1], "index out of bounds: the len is 1 but the index is 3"),
        ([0, 0, 4], [1, 2], "index out of bounds: the len is 2 but the index is 2"),
    ],
)
def test_child_range_past_the_transitions_is_an_internal_failure(
    node_shifts, child_transitions, message
):
    labels = ["", "a", "b"][: len(node_shifts)]
    args = (node_shifts, labels, [None] * len(labels), child_transitions, [], 10)
    assert assert_same_outcome(args) == ("PanicException", message)
    with pytest.raises(BaseException) as info:
        PrefixSearch.from_internal_data_v2(*args)
    assert not isinstance(info.value, Exception)


@pytest.mark.parametrize(
    "node_shifts, child_transitions",
    [
        ([5, 0], [1]),  # node 0 starts past its end: no children
        ([7, 7], [1]),  # both start past the transitions
    ],
)
def test_child_range_starting_at_or_past_its_end_is_empty(node_shifts, child_transitions):
    args = (node_shifts, ["", "a"], [None, (1, [0], [1])], child_transitions, [], 10)
    assert built(args).payloads[1] == (1, [0], [1])


# ------------------------------------------------------------ checks

Point = namedtuple("Point", "total ids counts")
PAYLOAD_ERROR_NODE_0 = [(1, [0]), [1, [0], [1]]]

CHECK_CASES = {
    "no nodes with a transition": (
        ([], [], [], [7], [], 1),
        ValueError,
        "child_transitions[0] = 7 out of range [0..0)",
    ),
    "node_shifts length": (
        valid(node_shifts=[0]),
        ValueError,
        "node_shifts len 1 != child_labels len 2",
    ),
    "node_shifts before payloads": (
        valid(node_shifts=[0], payloads=[None]),
        ValueError,
        "node_shifts len 1 != child_labels len 2",
    ),
    "payloads length": (
        valid(payloads=[None] * 3),
        ValueError,
        "payloads len 3 != child_labels len 2",
    ),
    "transition equal to the node count": (
        valid(child_transitions=[1, 0, 2, 2]),
        ValueError,
        "child_transitions[2] = 2 out of range [0..2)",
    ),
    "transition check before payload check": (
        valid(child_transitions=[2], payloads=[None, [1]]),
        ValueError,
        "child_transitions[0] = 2 out of range [0..2)",
    ),
    "payload not a tuple": (
        valid(payloads=[None, [1, [0], [1]]]),
        TypeError,
        "'list' object cannot be converted to 'PyTuple'",
    ),
    "payload of two items": (
        valid(payloads=[None, (1, [0])]),
        ValueError,
        "Payload tuple must have 3 elements",
    ),
    "payload of four items": (
        valid(payloads=[None, (1, [0], [1], 2)]),
        ValueError,
        "Payload tuple must have 3 elements",
    ),
    "payload total out of range": (
        valid(payloads=[None, (2**32, [0], [1])]),
        OverflowError,
        OUT_OF_RANGE,
    ),
    "payload video ids as str": (
        valid(payloads=[None, (1, "0", [1])]),
        TypeError,
        "Can't extract `str` to `Vec`",
    ),
    "payload counts not a sequence": (
        valid(payloads=[None, (1, [0], 1)]),
        TypeError,
        "'int' object cannot be converted to 'Sequence'",
    ),
    "payload count out of range": (
        valid(payloads=[None, (1, [0], [2**32])]),
        OverflowError,
        OUT_OF_RANGE,
    ),
    "payload lists of unequal length": (
        valid(payloads=[None, (1, [0, 1, 2], [1, 1])]),
        ValueError,
        "video_ids and video_counts length mismatch",
    ),
    "payload items checked in order": (
        valid(payloads=[None, (2**32, "0", 1)]),
        OverflowError,
        OUT_OF_RANGE,
    ),
    "the first node's payload error wins": (
        valid(payloads=PAYLOAD_ERROR_NODE_0),
        ValueError,
        "Payload tuple must have 3 elements",
    ),
    "payload error before the video table": (
        valid(payloads=[None, (1, [0])], video_index=[bytes(16), bytes(4)]),
        ValueError,
        "Payload tuple must have 3 elements",
    ),
    "video table of mixed lengths": (
        valid(video_index=[bytes(16), bytes(4)]),
        ValueError,
        VIDEO_MESSAGE,
    ),
    "video entry of 0 bytes": (valid(video_index=[b""]), ValueError, VIDEO_MESSAGE),
    "video entry of 8 bytes": (valid(video_index=[bytes(8)]), ValueError, VIDEO_MESSAGE),
    "video entry of 15 bytes": (valid(video_index=[bytes(15)]), ValueError, VIDEO_MESSAGE),
    "video entry as str": (
        valid(video_index=["abcd"]),
        TypeError,
        "argument 'video_index': Can't extract `str` to `Vec`",
    ),
    "video entry byte of 256": (valid(video_index=[[1, 2, 256, 0]]), OverflowError, OUT_OF_RANGE),
    "labels as str": (
        valid(child_labels="ab"),
        TypeError,
        "argument 'child_labels': Can't extract `str` to `Vec`",
    ),
    "label not a str": (
        valid(child_labels=["", 1]),
        TypeError,
        "argument 'child_labels': 'int' object cannot be converted to 'PyString'",
    ),
    "node_shifts as a set": (
        valid(node_shifts={0, 1}),
        TypeError,
        "argument 'node_shifts': 'set' object cannot be converted to 'Sequence'",
    ),
    "payloads as a dict": (
        valid(payloads={0: None}),
        TypeError,
        "argument 'payloads': 'dict' object cannot be converted to 'Sequence'",
    ),
    "transitions as a generator": (
        valid(child_transitions=(n for n in [1])),
        TypeError,
        "argument 'child_transitions': 'generator' object cannot be converted to 'Sequence'",
    ),
    "transition above the 32-bit range": (
        valid(child_transitions=[2**32]),
        OverflowError,
        OUT_OF_RANGE,
    ),
    "video_top_n above the 32-bit range": (valid(video_top_n=2**32), OverflowError, OUT_OF_RANGE),
    "arguments converted in signature order": (
        valid(node_shifts={0}, video_index="x"),
        TypeError,
        "argument 'node_shifts': 'set' object cannot be converted to 'Sequence'",
    ),
    "conversions before checks": (
        valid(node_shifts=[0], video_top_n=2**32),
        OverflowError,
        OUT_OF_RANGE,
    ),
}


@pytest.mark.parametrize("args, error_type, message", CHECK_CASES.values(), ids=CHECK_CASES.keys())
def test_check(args, error_type, message):
    expect_error(args, error_type, message)


INTERPRETER_CASES = {
    "negative shift": (valid(node_shifts=[0, -1]), OverflowError, "node_shifts"),
    "huge shift": (valid(node_shifts=[0, 2**64]), OverflowError, "node_shifts"),
    "float shift": (valid(node_shifts=[0, 1.0]), TypeError, "node_shifts"),
    "str video_top_n": (valid(video_top_n="3"), TypeError, "video_top_n"),
    "None video_top_n": (valid(video_top_n=None), TypeError, "video_top_n"),
    "negative video byte": (valid(video_index=[[0, 0, 0, -1]]), OverflowError, "video_index"),
    "float payload count": (valid(payloads=[None, (1, [0], [1.5])]), TypeError, None),
    "lone surrogate label": (valid(child_labels=["", "\ud800"]), UnicodeEncodeError, None),
}


@pytest.mark.parametrize(
    "args, error_type, argument", INTERPRETER_CASES.values(), ids=INTERPRETER_CASES.keys()
)
def test_interpreter_worded_conversion_errors(args, error_type, argument):
    with pytest.raises(error_type) as info:
        PrefixSearch.from_internal_data_v2(*args)
    assert type(info.value) is error_type
    prefixed = str(info.value).startswith(f"argument '{argument}': ")
    assert prefixed == (argument is not None and error_type is TypeError)
    assert_same_outcome(args)


# ------------------------------------------------------ accepted values


class Tally(tuple):
    pass


def test_labels_keep_their_first_code_point():
    labels = ["", "abc", "é", "😀x", "\0", "\uffff", "\U0010ffff"]
    count = len(labels)
    args = ([0] * count, labels, [None] * count, [], [], 1)
    assert built(args).child_labels == [0, ord("a"), 0xE9, 0x1F600, 0, 0xFFFF, 0x10FFFF]


@pytest.mark.parametrize(
    "video_index, mode, uuids, int_ids",
    [
        ([], UUID, [], []),
        ([bytes(range(16))], UUID, [bytes(range(16))], []),
        ([b"\1\0\0\0"], INT32, [], [1]),
        ([b"\xff\xff\xff\xff", bytearray(b"\0\1\0\0")], INT32, [], [MAX, 256]),
        ([[1, 2, 3, 4], (5, 0, 0, 0), memoryview(b"\6\0\0\0")], INT32, [], [0x04030201, 5, 6]),
        (
            tuple(uuid_video_index([bytes(16), bytes([255] * 16)])),
            UUID,
            [bytes(16), bytes([255] * 16)],
            [],
        ),
    ],
)
def test_video_table_sets_the_id_mode(video_index, mode, uuids, int_ids):
    model = built(valid(video_index=video_index))
    assert (model.id_mode, model.video_uuids, model.video_int_ids) == (mode, uuids, int_ids)


@pytest.mark.parametrize(
    "changes",
    [
        {"node_shifts": range(2), "child_transitions": (1,)},
        {"node_shifts": bytes([0, 1]), "child_labels": ("", "a")},
        {"payloads": [None, Tally((1, [0], [1]))]},
        {"payloads": [None, Point(1, range(1), b"\1")]},
        {"payloads": [None, (True, [False], [True])]},
        {"video_top_n": 0},
        {"video_top_n": MAX},
        {"payloads": [(9, [1000, 7], [1, 2]), (1, [5], [1])], "video_index": [b"\1\0\0\0"]},
    ],
    ids=[
        "range and tuple",
        "bytes and tuple",
        "tuple subclass payload",
        "namedtuple payload of other sequences",
        "bool integers",
        "top_n 0",
        "top_n max",
        "video positions outside the table",
    ],
)
def test_accepted_values(changes):
    built(valid(**changes))


# --------------------------------------------------------- host objects


def clearing_shifts() -> list:
    shifts = [0, 1]
    shifts[0] = Clears(shifts, 0)
    return shifts


def replacing_shifts() -> list:
    shifts = [0, 5]
    shifts[0] = ReplacesNext(shifts, 0, 0)
    return shifts


# Factories: some of these objects change while they are read.
HOST_OBJECT_CASES = {
    "__len__ larger than the items": (lambda: valid(node_shifts=LyingLength([0, 1], 50)), "ok"),
    "__len__ smaller than the items": (lambda: valid(payloads=LyingLength([None, None], 1)), "ok"),
    "__len__ raising": (lambda: valid(child_transitions=LyingLength([1], RuntimeError("no length"))), "ok"),
    "sequence by __getitem__ only": (lambda: valid(child_labels=ByIndex(["", "a"])), "ok"),
    "video entry by __getitem__ only": (
        lambda: valid(video_index=[ByIndex(b"\1\2\3\4")]),
        "ok",
    ),
    "iteration raising ValueError": (
        lambda: valid(node_shifts=FailingAt([0, 1], 2, ValueError("host"))),
        "ValueError",
    ),
    "iteration raising TypeError in an argument": (
        lambda: valid(child_transitions=FailingAt([1], 1, TypeError("host"))),
        "TypeError",
    ),
    "iteration raising TypeError in a payload": (
        lambda: valid(payloads=[None, (1, FailingAt([0], 1, TypeError("host")), [1])]),
        "TypeError",
    ),
    "iteration raising KeyError in a video entry": (
        lambda: valid(video_index=[FailingAt([1, 2, 3, 4], 4, KeyError("host"))]),
        "KeyError",
    ),
    "list emptied while read": (lambda: valid(node_shifts=clearing_shifts()), "ValueError"),
    "list item replaced while read": (lambda: valid(node_shifts=replacing_shifts()), "ok"),
}


@pytest.mark.parametrize(
    "make_args, kind", HOST_OBJECT_CASES.values(), ids=HOST_OBJECT_CASES.keys()
)
def test_host_objects_are_read_by_iterating(make_args, kind):
    actual = extension_outcome(make_args())
    assert actual == model_outcome(make_args())
    assert actual[0] == kind


def test_host_errors_pass_unchanged():
    error = ValueError("host")
    with pytest.raises(ValueError) as info:
        PrefixSearch.from_internal_data_v2(*valid(node_shifts=FailingAt([0], 1, error)))
    assert info.value is error
    with pytest.raises(TypeError, match=r"^argument 'child_transitions': host$"):
        PrefixSearch.from_internal_data_v2(
            *valid(child_transitions=FailingAt([1], 1, TypeError("host")))
        )


@pypy_differs("no reference counts")
@pytest.mark.parametrize(
    "changes",
    [
        {},
        {"video_top_n": -1},
        {"child_transitions": [2]},
        {"video_index": [bytes(3)]},
        {"node_shifts": [0, 1, 2]},
        {"video_index": [[0, 0, 0, 256]]},
        {"child_labels": ["", 1]},
    ],
    ids=[
        "success",
        "last conversion",
        "transition",
        "video table",
        "length",
        "video byte",
        "label",
    ],
)
def test_no_references_kept(changes):
    total, count, label = int("4000000001"), int("4000000002"), "é" * 3
    payload = (total, [0], [count])
    owned = [total, count, label, payload]
    args = valid(**{"payloads": [None, payload], "child_labels": ["", label], **changes})
    before = [sys.getrefcount(value) for value in owned]
    for _ in range(3):
        extension_outcome(args)
    assert [sys.getrefcount(value) for value in owned] == before


# -------------------------------------------------- differential, random

labels = st.one_of(st.text(max_size=3), st.sampled_from(["", "\0", "é", "😀", "ab"]))
counts = st.one_of(st.integers(0, 9), st.integers(MAX - 3, MAX))


@st.composite
def payloads(draw):
    pairs = draw(st.lists(st.tuples(st.integers(0, 6), counts), max_size=5))
    return (draw(counts), [video for video, _ in pairs], [count for _, count in pairs])


video_tables = st.one_of(
    st.lists(st.binary(min_size=4, max_size=4), max_size=4),
    st.lists(st.binary(min_size=16, max_size=16), max_size=3),
)
# Made once rather than in each draw: hypothesis works out afresh whether each
# new strategy object can draw anything, which costs more than a draw.
optional_payloads = st.none() | payloads()


@st.composite
def raw_tries(draw):
    """Well-shaped arrays of any numbering: children below their parents, repeated,
    a node its own child, child ranges that decrease or run past the end."""
    node_count = draw(st.integers(0, 9))
    transitions = (
        draw(st.lists(st.integers(0, node_count - 1), max_size=2 * node_count))
        if node_count
        else []
    )
    overrun = 1 if draw(st.integers(0, 7)) == 0 else 0  # now and then a range past the end
    shifts = draw(
        st.lists(
            st.integers(0, len(transitions) + overrun), min_size=node_count, max_size=node_count
        )
    )
    if draw(st.booleans()):
        shifts.sort()
    return (
        shifts,
        draw(st.lists(labels, min_size=node_count, max_size=node_count)),
        draw(st.lists(optional_payloads, min_size=node_count, max_size=node_count)),
        transitions,
        draw(video_tables),
        draw(st.integers(0, 4) | st.just(MAX)),
    )


junk = st.sampled_from([None, -1, 2**32, "", "a", [1], (1, [0], [1]), b"ab", 1.5, {1}])
bad_payloads = st.sampled_from(
    [
        [1, [0], [1]],
        (1, [0]),
        (1, [0], [1], 2),
        (2**32, [0], [1]),
        (1, "0", [1]),
        (1, [0], 1),
        (1, [0], [-1]),
        (1, [0, 1], [1]),
    ]
)


loose_payloads = optional_payloads | bad_payloads
loose_video_ids = st.binary(max_size=17) | st.binary(min_size=4, max_size=4)


@st.composite
def loose_arrays(draw):
    """Arrays whose lengths need not agree, with malformed payloads and video
    tables, and now and then one argument holding values of the wrong kind."""
    node_count = draw(st.integers(0, 3))
    spoiled = draw(st.integers(0, 9))  # the argument given junk, if any

    def array(position, values, size=None):
        if position == spoiled:
            values = values | junk
            if draw(st.booleans()):
                return draw(junk)
        if size is None:
            size = draw(st.integers(0, 3)) if draw(st.integers(0, 3)) == 0 else node_count
        return draw(st.lists(values, min_size=size, max_size=size))

    return (
        array(0, st.integers(0, 3)),
        array(1, labels),
        array(2, loose_payloads),
        array(3, st.integers(0, node_count), draw(st.integers(0, 2))),
        array(4, loose_video_ids, draw(st.integers(0, 3))),
        draw(junk) if spoiled == 5 else draw(st.integers(0, 3)),
    )


@settings(max_examples=400, deadline=None)
@given(raw_tries())
def test_random_tries_match_the_model(args):
    assert_same_outcome(args)


@settings(max_examples=400, deadline=None)
@given(loose_arrays())
def test_random_arguments_fail_like_the_model(args):
    assert_same_outcome(args)


@settings(max_examples=200, deadline=None)
@given(
    st.lists(st.tuples(st.text("abé😀\0", max_size=5), payloads()), max_size=12),
    video_tables,
    st.integers(0, 4),
)
def test_tries_of_terms_match_the_model(entries, video_index, top_n):
    assert_same_outcome(internal_data(entries, video_index, top_n).args())


# ------------------------------------------------------- real word list


@pytest.mark.skipif(not os.path.exists(WORD_LIST), reason=f"{WORD_LIST} not installed")
def test_word_list_matches_the_model():
    with open(WORD_LIST, encoding="utf-8") as words:
        terms = [word.strip() for word in words if word.strip()]
    entries = [
        (term, (len(term) + n % 7, [n % 50, (n * 7) % 50], [n % 5 + 1, len(term)]))
        for n, term in enumerate(terms)
    ]
    data = internal_data(entries, int_video_index(range(1000, 1050)), video_top_n=5)
    assert PrefixSearch.from_internal_data_v2(*data.args()).to_bytes() == encode(
        build(*data.args())
    )
