"""Hostile Python objects as arguments of every method.

Sequences that lie about their length or fail while they are iterated,
integers and floats that convert badly or not at all, subclasses of str, int,
float, tuple and bytes that override what they can, and objects that change
the very list being read or call back into the index: every call ends in the
exception that the conversion rules name, with its message, or in the result
that the Python models give; never in a crash and never in SystemError.

Cases that test_build.py and test_match.py cover (a few lying lengths,
iteration failing after the last item, NaN and infinite min_score, numpy-like
flags) come back here only as cells of the tables of every argument position.
"""

from __future__ import annotations

import array
import gc
import math
import operator
from fractions import Fraction
from typing import Callable

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model_build
import model_image
import model_match
from _kelnor import PrefixSearch
from conftest import ON_PYPY, pypy_differs
from host_data import TWO_NODES, int_video_index, internal_data, two_node_args
from host_objects import (
    Appends,
    ByIndex,
    Clears,
    FailingAt,
    Index,
    LyingLength,
    NonIterator,
    NotIterable,
    NumpyBool,
    Real,
)

U32_MAX = 2**32 - 1
OUT_OF_RANGE = "out of range integral type conversion attempted"

# ------------------------------------------------------------ outcomes


def outcome(call: Callable) -> tuple:
    """("ok", result) or (exception type name, message); SystemError is never expected."""
    try:
        return ("ok", call())
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # PanicException derives from BaseException
        assert not isinstance(error, SystemError), error
        return (type(error).__name__, message_of(error))


def message_of(error: BaseException) -> str:
    try:
        return str(error)
    except HostError:
        return "<unprintable>"


def argument_prefix(message: str) -> str:
    return message[: message.index(": ") + 2] if message.startswith("argument '") else ""


def assert_same(actual: tuple, expected: tuple) -> None:
    """Equal outcomes; on PyPy an error the interpreter words need only agree in
    its type and in the argument it is charged to."""
    if ON_PYPY and actual[0] == expected[0] != "ok" and actual[1] != expected[1]:
        assert argument_prefix(actual[1]) == argument_prefix(expected[1])
    else:
        assert actual == expected


def model_of(model: Callable) -> Callable:
    """A model call whose ModelPanic is reported as the extension's PanicException."""

    def call():
        try:
            return model()
        except (model_build.ModelPanic, model_match.ModelPanic) as panic:
            raise PanicException(*panic.args) from None

    return call


class PanicException(Exception):
    """Stands for the extension's exception of the same name in model outcomes."""


# ------------------------------------------------------------ host objects


class HostError(Exception):
    pass


class HostTypeError(TypeError):
    pass


class HostInterrupt(BaseException):
    pass


class Unprintable:
    def __str__(self):
        raise HostError("cannot print")


class Deceiving(int):
    """An int whose methods all disagree with its value."""

    def __index__(self):
        return 7

    def __int__(self):
        return 7

    def __lt__(self, other):
        return True

    def __gt__(self, other):
        return True


class DeceivingFloat(float):
    def __float__(self):
        return 99.0


class DeceivingStr(str):
    """A str whose Python-level methods all lie about its text."""

    def __str__(self):
        return "zzz"

    def __iter__(self):
        return iter("zzz")

    def __getitem__(self, index):
        return "z"

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class ShortStr(str):
    def __len__(self):
        return 0


class DeceivingTuple(tuple):
    def __len__(self):
        return 2

    def __getitem__(self, index):
        return 99

    def __iter__(self):
        return iter([5, 5, 5])


class DeceivingBytes(bytes):
    def __len__(self):
        return 0

    def __getitem__(self, index):
        return 255

    def __bytes__(self):
        return b""


def generator(items):
    yield from items


# ------------------------------------------------------------ the build


def payload(total: object = 1, ids: object = None, counts: object = None) -> tuple:
    return (total, [0] if ids is None else ids, [1] if counts is None else counts)


def build_outcomes(make_args: Callable[[], tuple]) -> tuple:
    """The extension's and the model's outcome, each on its own fresh arguments
    (some of them change as they are read)."""
    actual = outcome(lambda: PrefixSearch.from_internal_data_v2(*make_args()).to_bytes())
    expected = outcome(model_of(lambda: model_image.encode(model_build.build(*make_args()))))
    return actual, expected


def cleared_while_read(field: str) -> Callable[[], tuple]:
    def make():
        values = [0, 1]
        values[0] = Clears(values, 0)
        return two_node_args(**{field: values})

    return make


def cleared_payload_counts() -> tuple:
    counts = [1, 2]
    ids = [Clears(counts, 0), 1]
    return two_node_args(payloads=[None, (1, ids, counts)])


def extended_while_read() -> tuple:
    transitions = [0]
    transitions[0] = Appends(transitions, 1, 1)
    return two_node_args(child_transitions=transitions)


def video_table_cleared_from_a_byte() -> tuple:
    table = [None, b"\2\0\0\0"]
    table[0] = [Clears(table, 1), 0, 0, 0]
    return two_node_args(video_index=table)


def payloads_cleared_from_a_total() -> tuple:
    # The payload entries are taken before any of them is converted.
    payloads = [None, None]
    payloads[1] = (Clears(payloads, 4), [0], [1])
    return two_node_args(payloads=payloads)


ITERATION_ERRORS = {
    "ValueError": HostError("host"),
    "TypeError": TypeError("host"),
    "TypeError subclass": HostTypeError("host"),
    "BaseException": HostInterrupt("host"),
    "TypeError that cannot be printed": TypeError(Unprintable()),
}

LYING_LENGTHS = {"negative": -1, "huge": 2**70, "not an int": "2", "raising": HostError("length")}


def sequence_cases(field: str) -> dict:
    """Factories of the six arguments with the sequence `field` made hostile."""
    items = TWO_NODES[field]

    def with_value(make_value: Callable[[], object]) -> Callable[[], tuple]:
        return lambda: two_node_args(**{field: make_value()})

    cases = {
        f"__len__ {name}": with_value(lambda n=length: LyingLength(items, n))
        for name, length in LYING_LENGTHS.items()
    }
    for name, error in ITERATION_ERRORS.items():
        for where, count in {"at the start": 0, "in the middle": 1}.items():
            cases[f"iteration raising {name} {where}"] = with_value(
                lambda c=count, e=error: FailingAt(items, c, e)
            )
    cases.update(
        {
            "__iter__ giving a non-iterator": with_value(lambda: NonIterator(items)),
            "not iterable": with_value(NotIterable),
            "by __getitem__, empty": with_value(lambda: ByIndex([])),
            "by __getitem__, raising at the start": with_value(
                lambda: ByIndex([], 0, HostError("host"))
            ),
            "by __getitem__, raising in the middle": with_value(
                lambda: ByIndex(items, 1, HostError("host"))
            ),
            "generator": with_value(lambda: generator(items)),
            "iterator": with_value(lambda: iter(items)),
            "dict": with_value(lambda: dict(enumerate(items))),
        }
    )
    return {f"{field}: {name}": make for name, make in cases.items()}


SEQUENCE_FIELDS = ["node_shifts", "child_labels", "payloads", "child_transitions", "video_index"]
SEQUENCE_CASES = {
    name: make for field in SEQUENCE_FIELDS for name, make in sequence_cases(field).items()
}

INNER_CASES = {
    "payload ids: __len__ raising": lambda: two_node_args(
        payloads=[None, (1, LyingLength([0], HostError("length")), [1])]
    ),
    "payload counts: __len__ negative": lambda: two_node_args(
        payloads=[None, (1, [0], LyingLength([1], -1))]
    ),
    "payload ids: iteration raising TypeError at the start": lambda: two_node_args(
        payloads=[None, (1, FailingAt([0], 0, TypeError("host")), [1])]
    ),
    "payload counts: iteration raising BaseException": lambda: two_node_args(
        payloads=[None, (1, [0], FailingAt([1], 0, HostInterrupt("host")))]
    ),
    "payload ids: __iter__ giving a non-iterator": lambda: two_node_args(
        payloads=[None, (1, NonIterator([0]), [1])]
    ),
    "payload ids: generator": lambda: two_node_args(payloads=[None, (1, generator([0]), [1])]),
    "payload counts: dict": lambda: two_node_args(payloads=[None, (1, [0], {0: 1})]),
    "payload ids: bytes": lambda: two_node_args(payloads=[None, (1, b"\0", [1])]),
    "payload ids: memoryview": lambda: two_node_args(payloads=[None, (1, memoryview(b"\0"), [1])]),
    "payload counts: bytearray": lambda: two_node_args(payloads=[None, (1, [0], bytearray(b"\5"))]),
    "payload counts: array": lambda: two_node_args(payloads=[None, (1, [0], array.array("I", [9]))]),
    "payload: a generator": lambda: two_node_args(payloads=[None, generator([1, [0], [1]])]),
    "video entry: __len__ lying": lambda: two_node_args(video_index=[LyingLength([1, 0, 0, 0], 16)]),
    "video entry: iteration raising in the middle": lambda: two_node_args(
        video_index=[FailingAt([1, 0, 0, 0], 2, HostError("host"))]
    ),
    "video entry: generator": lambda: two_node_args(video_index=[generator(b"\1\0\0\0")]),
    "video entry: int": lambda: two_node_args(video_index=[7]),
    "video entry: memoryview of int32": lambda: two_node_args(
        video_index=[memoryview(array.array("i", [7]))]
    ),
    "video entry: bytes subclass with its own __iter__": lambda: two_node_args(
        video_index=[
            type("Reversed", (bytes,), {"__iter__": lambda self: iter([0, 0, 0, 9])})(b"\1\0\0\0")
        ]
    ),
    "node_shifts: bytearray": lambda: two_node_args(node_shifts=bytearray(b"\0\1")),
    "node_shifts: memoryview": lambda: two_node_args(node_shifts=memoryview(b"\0\1")),
    "node_shifts: memoryview of uint32": lambda: two_node_args(
        node_shifts=memoryview(array.array("I", [0, 1]))
    ),
    "node_shifts: memoryview of doubles": lambda: two_node_args(
        node_shifts=memoryview(array.array("d", [0, 1]))
    ),
    "node_shifts: two-dimensional memoryview": lambda: two_node_args(
        node_shifts=memoryview(b"\0\1\0\1").cast("B", (2, 2))
    ),
    "child_transitions: array of signed": lambda: two_node_args(
        child_transitions=array.array("b", [-1])
    ),
    "node_shifts: cleared while read": cleared_while_read("node_shifts"),
    "child_transitions: cleared while read": cleared_while_read("child_transitions"),
    "child_transitions: extended while read": extended_while_read,
    "payload counts: cleared from an id": cleared_payload_counts,
    "video_index: cleared from a byte of its first entry": video_table_cleared_from_a_byte,
    "payloads: cleared from a total": payloads_cleared_from_a_total,
}


@pytest.mark.parametrize(
    "make_args",
    [*SEQUENCE_CASES.values(), *INNER_CASES.values()],
    ids=[*SEQUENCE_CASES, *INNER_CASES],
)
def test_hostile_sequences_build_as_the_model_does(make_args):
    actual, expected = build_outcomes(make_args)
    assert_same(actual, expected)


def test_host_exceptions_are_raised_as_they_are():
    error = HostInterrupt("host")
    with pytest.raises(HostInterrupt) as raised:
        PrefixSearch.from_internal_data_v2(*two_node_args(node_shifts=FailingAt([0, 1], 1, error)))
    assert raised.value is error
    # A TypeError is re-raised with the argument's name, keeping its cause.
    cause = HostError("cause")
    wrapped = TypeError("host")
    wrapped.__cause__ = cause
    with pytest.raises(TypeError) as raised:
        PrefixSearch.from_internal_data_v2(*two_node_args(video_top_n=Index(wrapped)))
    assert str(raised.value) == "argument 'video_top_n': host"
    assert raised.value.__cause__ is cause


@pypy_differs("cpyext crashes when a released memoryview is passed to any C function")
@pytest.mark.parametrize("field", ["node_shifts", "child_transitions", "video_index"])
def test_released_memoryview(field):
    view = memoryview(b"\0\1")
    view.release()
    actual, expected = build_outcomes(lambda: two_node_args(**{field: view}))
    assert actual == expected == ("ValueError", "operation forbidden on released memoryview object")


# Every place where the build reads an unsigned 32-bit integer (or a byte).
INTEGER_PLACES = {
    "node_shift": lambda value: two_node_args(node_shifts=[0, value]),
    "transition": lambda value: two_node_args(child_transitions=[value]),
    "payload total": lambda value: two_node_args(payloads=[None, payload(total=value)]),
    "payload id": lambda value: two_node_args(payloads=[None, payload(ids=[value])]),
    "payload count": lambda value: two_node_args(payloads=[None, payload(counts=[value])]),
    "video byte": lambda value: two_node_args(video_index=[[value, 0, 0, 0]]),
    "video_top_n": lambda value: two_node_args(video_top_n=value),
}

HOSTILE_INTEGERS = {
    "2**32": lambda: 2**32,
    "2**64 - 1": lambda: 2**64 - 1,
    "2**64": lambda: 2**64,
    "2**100": lambda: 2**100,
    "-1": lambda: -1,
    "-(2**64)": lambda: -(2**64),
    "-(2**100)": lambda: -(2**100),
    "True": lambda: True,
    "float": lambda: 1.0,
    "NaN": lambda: math.nan,
    "str": lambda: "1",
    "None": lambda: None,
    "__index__ 0": lambda: Index(0),
    "__index__ raising ValueError": lambda: Index(HostError("index")),
    "__index__ raising TypeError": lambda: Index(TypeError("index")),
    "__index__ raising a TypeError subclass": lambda: Index(HostTypeError("index")),
    "__index__ raising BaseException": lambda: Index(HostInterrupt("index")),
    "__index__ raising an unprintable TypeError": lambda: Index(TypeError(Unprintable())),
    "__index__ giving a str": lambda: Index("1"),
    "__index__ giving 2**64": lambda: Index(2**64),
    "__index__ giving 2**32": lambda: Index(2**32),
    "__index__ giving -1": lambda: Index(-1),
    "Fraction": lambda: Fraction(1, 1),
}


@pytest.mark.parametrize("make_value", HOSTILE_INTEGERS.values(), ids=HOSTILE_INTEGERS.keys())
@pytest.mark.parametrize("place", INTEGER_PLACES.values(), ids=INTEGER_PLACES.keys())
def test_hostile_integers_build_as_the_model_does(place, make_value):
    actual, expected = build_outcomes(lambda: place(make_value()))
    assert_same(actual, expected)


@pytest.mark.parametrize("place", INTEGER_PLACES.values(), ids=INTEGER_PLACES.keys())
def test_int_subclass_is_read_by_its_value(place):
    # Its value is 1; its __index__, __int__ and comparisons say otherwise.
    assert (
        PrefixSearch.from_internal_data_v2(*place(Deceiving(1))).to_bytes()
        == PrefixSearch.from_internal_data_v2(*place(1)).to_bytes()
    )


def test_str_subclass_label_is_read_by_its_text():
    index = PrefixSearch.from_internal_data_v2(*two_node_args(child_labels=["", DeceivingStr("ab")]))
    assert index.fuzzy_match("a", 0) == [("a", 1, 0)]


@pypy_differs("cpyext takes the text of a str subclass from its overridden __len__")
def test_str_subclass_label_with_a_lying_length():
    index = PrefixSearch.from_internal_data_v2(*two_node_args(child_labels=["", ShortStr("ab")]))
    assert index.fuzzy_match("a", 0) == [("a", 1, 0)]


@pytest.mark.parametrize("field", SEQUENCE_FIELDS)
def test_str_subclass_is_never_a_sequence(field):
    with pytest.raises(TypeError) as raised:
        PrefixSearch.from_internal_data_v2(*two_node_args(**{field: DeceivingStr("ab")}))
    assert str(raised.value) == f"argument '{field}': Can't extract `str` to `Vec`"


@pypy_differs("cpyext cannot hand C code a tuple whose __len__ disagrees with its items")
def test_tuple_subclass_payload_is_read_by_its_items():
    deceiving = PrefixSearch.from_internal_data_v2(
        *two_node_args(payloads=[None, DeceivingTuple((1, [0], [1]))])
    )
    plain = PrefixSearch.from_internal_data_v2(*two_node_args(payloads=[None, (1, [0], [1])]))
    assert deceiving.to_bytes() == plain.to_bytes()


# ------------------------------------------------------------ to_bytes, from_bytes


@pytest.mark.parametrize(
    "value, type_name",
    [
        (bytearray(8), "bytearray"),
        (memoryview(bytes(8)), "memoryview"),
        (array.array("B", bytes(8)), "array"),
        ("\0" * 8, "str"),
        ([0] * 8, "list"),
        (None, "NoneType"),
        (generator(bytes(8)), "generator"),
    ],
)
def test_from_bytes_takes_only_bytes(value, type_name):
    with pytest.raises(TypeError) as raised:
        PrefixSearch.from_bytes(value)
    assert type(raised.value) is TypeError
    assert (
        str(raised.value) == f"argument 'b': '{type_name}' object cannot be converted to 'PyBytes'"
    )


@pypy_differs("cpyext cannot hand C code a bytes object whose __len__ disagrees with its bytes")
def test_bytes_subclass_is_read_by_its_bytes():
    image = PrefixSearch.from_internal_data_v2(*two_node_args()).to_bytes()
    assert PrefixSearch.from_bytes(DeceivingBytes(image)).to_bytes() == image


# Sequences whose length is known before reading (lists, tuples, ranges) and is
# more than any array of an index can have are refused before an item is read:
# a range can be longer than memory could ever hold.
TOO_LONG = {
    "node_shifts": (two_node_args(node_shifts=range(10**12)), "node_shifts", 10**12),
    "child_labels": (two_node_args(child_labels=range(2**32 + 1)), "child_labels", 2**32 + 1),
    "payloads: counted down": (
        two_node_args(payloads=range(10**12, 0, -1)),
        "payloads",
        10**12,
    ),
    "child_transitions: past len()'s reach": (
        two_node_args(child_transitions=range(0, 10**20, 3)),
        "child_transitions",
        33333333333333333334,
    ),
    "video_index": (two_node_args(video_index=range(-5, 2**32)), "video_index", 2**32 + 5),
    "payload ids": (
        two_node_args(payloads=[None, (1, range(10**12), [1])]),
        "video_ids of payloads[1]",
        10**12,
    ),
    "payload counts": (
        two_node_args(payloads=[None, (1, [0], range(2**33 + 2, 0, -2))]),
        "video_counts of payloads[1]",
        2**32 + 1,
    ),
}


@pytest.mark.parametrize("args, name, length", TOO_LONG.values(), ids=TOO_LONG)
def test_sequences_too_long_for_an_index_are_refused_unread(args, name, length):
    with pytest.raises(ValueError) as raised:
        PrefixSearch.from_internal_data_v2(*args)
    assert str(raised.value) == f"{name} has {length} entries; an index holds at most 4294967296"


@pytest.mark.parametrize(
    "make_args",
    [
        lambda: two_node_args(node_shifts=range(2), child_transitions=range(1, 2)),
        lambda: two_node_args(payloads=[None, (1, range(1), range(1, 2))]),
        lambda: two_node_args(child_transitions=range(5, 0)),
        # 4294967296 entries may be read: the first of them is refused by its type.
        lambda: two_node_args(video_index=range(2**32)),
    ],
    ids=["arrays", "payload lists", "empty", "the most entries"],
)
def test_ranges_build_as_the_model_does(make_args):
    assert_same(*build_outcomes(make_args))


# ------------------------------------------------------------ the queries


@pytest.fixture(scope="module")
def index() -> PrefixSearch:
    data = internal_data(
        [("abc", (4, [0], [4])), ("abd", (2, [1], [2])), ("xyz", (1, [1], [1]))],
        int_video_index([100, 200]),
    )
    return PrefixSearch.from_internal_data_v2(*data.args())


def cannot_convert(value: object, target: str) -> TypeError:
    return TypeError(f"'{type(value).__qualname__}' object cannot be converted to '{target}'")


def model_term(value: object) -> str:
    if not isinstance(value, str):
        raise cannot_convert(value, "PyString")
    text = str.__str__(value)
    text.encode("utf-8")
    return text


def model_u32(value: object) -> int:
    # int.__add__ gives the value itself, whatever a subclass overrides.
    number = int.__add__(value, 0) if isinstance(value, int) else operator.index(value)
    if number < 0:
        raise OverflowError(model_build.NEGATIVE_TO_UNSIGNED)
    if number >= 2**64:
        raise OverflowError(model_build.TOO_BIG_TO_CONVERT)
    if number > U32_MAX:
        raise OverflowError(OUT_OF_RANGE)
    return number


def model_flag(value: object) -> bool:
    if value is True or value is False:
        return value
    kind = type(value)
    if kind.__name__ in ("bool", "bool_") and kind.__module__ == "numpy":
        method = getattr(kind, "__bool__", None)
        if method is None:
            raise TypeError(f"object of type '{kind}' does not define a '__bool__' conversion")
        result = method(value)
        if result is not True and result is not False:
            raise cannot_convert(result, "PyBool")
        return result
    raise cannot_convert(value, "PyBool")


def model_float(value: object) -> float:
    if isinstance(value, float):
        return float.__float__(value)
    method = getattr(type(value), "__float__", None)
    if method is not None:
        result = method(value)
        if not isinstance(result, float):
            raise TypeError(
                f"{type(value).__name__}.__float__ returned non-float "
                f"(type {type(result).__name__})"
            )
        return float.__float__(result)
    if hasattr(type(value), "__index__"):
        return float(operator.index(value))
    raise TypeError(f"must be real number, not {type(value).__name__}")


def optional(convert: Callable) -> Callable:
    return lambda value: None if value is None else convert(value)


QUERY_PARAMETERS = {
    "fuzzy_match": [("term", model_term), ("max_dist", model_u32), ("limit", optional(model_u32))],
    "fuzzy_match_video": [
        ("term", model_term),
        ("max_dist", model_u32),
        ("limit", optional(model_u32)),
        ("include_prefix_nodes", optional(model_flag)),
        ("min_score", optional(model_float)),
    ],
}


def model_query(index: PrefixSearch, method: str, args: tuple):
    """What `index.method(*args)` should give: the arguments converted in order
    (the first failure wins), then the query model on the index's trie."""
    converted = [
        model_build.argument(name, lambda c=convert, v=value: c(v))
        for (name, convert), value in zip(QUERY_PARAMETERS[method], args)
    ]
    trie = model_image.decode(index.to_bytes())
    return getattr(model_match, method)(trie, *converted)


def query_outcomes(index: PrefixSearch, method: str, make_args: Callable[[], tuple]) -> tuple:
    actual = outcome(lambda: getattr(index, method)(*make_args()))
    expected = outcome(model_of(lambda: model_query(index, method, make_args())))
    return actual, expected


class UnreadableType(type):
    """A metaclass that refuses to tell the names of its classes."""

    def __getattribute__(cls, name):
        if name in ("__name__", "__qualname__", "__module__"):
            raise HostError(name)
        return super().__getattribute__(name)


Unreadable = UnreadableType("Unreadable", (), {})

# (method, full positional arguments); each is also tried with every hostile
# value below in every position.
QUERY_CASES = {
    "term: str subclass lying in every method": (
        "fuzzy_match_video",
        lambda: (DeceivingStr("abc"), 1, None, None, None),
    ),
    "term: with NUL": ("fuzzy_match", lambda: ("ab\0c", 2, None)),
    "term: lone surrogate": ("fuzzy_match", lambda: ("ab\udfff", 1, None)),
    "term: bytearray": ("fuzzy_match", lambda: (bytearray(b"abc"), 1, None)),
    "term: memoryview": ("fuzzy_match_video", lambda: (memoryview(b"abc"), 1, None, None, None)),
    "term: list of characters": ("fuzzy_match", lambda: (list("abc"), 1, None)),
    "max_dist: int subclass": ("fuzzy_match", lambda: ("abd", Deceiving(0), None)),
    "limit: int subclass": ("fuzzy_match", lambda: ("abd", 1, Deceiving(1))),
    "max_dist: by __index__": ("fuzzy_match", lambda: ("abd", Index(1), None)),
    "limit: after a failing max_dist": ("fuzzy_match", lambda: ("ab", -1, Index(HostError("x")))),
    "flag: numpy-like whose __bool__ raises": (
        "fuzzy_match_video",
        lambda: ("ab", 1, None, NumpyBool(HostError("bool")), None),
    ),
    "flag: numpy-like whose __bool__ raises TypeError": (
        "fuzzy_match_video",
        lambda: ("ab", 1, None, NumpyBool(TypeError("bool")), None),
    ),
    "flag: numpy-like whose __bool__ gives None": (
        "fuzzy_match_video",
        lambda: ("ab", 1, None, NumpyBool(None), None),
    ),
    "flag: numpy-like whose __bool__ gives another numpy-like": (
        "fuzzy_match_video",
        lambda: ("ab", 1, None, NumpyBool(NumpyBool(True)), None),
    ),
    "min_score: float subclass": (
        "fuzzy_match_video",
        lambda: ("abc", 1, None, None, DeceivingFloat(0.9)),
    ),
    "min_score: __float__ giving a str": (
        "fuzzy_match_video",
        lambda: ("abc", 1, None, None, Real("0.5")),
    ),
    "min_score: __float__ raising": (
        "fuzzy_match_video",
        lambda: ("abc", 1, None, None, Real(HostError("float"))),
    ),
    "min_score: __float__ raising TypeError": (
        "fuzzy_match_video",
        lambda: ("abc", 1, None, None, Real(TypeError("float"))),
    ),
    "min_score: Fraction": ("fuzzy_match_video", lambda: ("abc", 1, None, None, Fraction(1, 2))),
    "min_score: int beyond every float": (
        "fuzzy_match_video",
        lambda: ("abc", 1, None, None, 2**2000),
    ),
    "min_score: bool": ("fuzzy_match_video", lambda: ("abc", 1, None, None, True)),
    "min_score: negative zero": ("fuzzy_match_video", lambda: ("abc", 1, None, None, -0.0)),
    "min_score: bytes": ("fuzzy_match_video", lambda: ("abc", 1, None, None, b"0.5")),
}


@pytest.mark.parametrize("method, make_args", QUERY_CASES.values(), ids=QUERY_CASES.keys())
def test_hostile_query_arguments(index, method, make_args):
    actual, expected = query_outcomes(index, method, make_args)
    assert_same(actual, expected)


@pypy_differs("float() of an object with only __index__ is refused by cpyext")
def test_min_score_by_index(index):
    actual, expected = query_outcomes(
        index, "fuzzy_match_video", lambda: ("abc", 1, None, None, Index(0))
    )
    assert actual == expected == ("ok", index.fuzzy_match_video("abc", 1, None, None, 0.0))


@pypy_differs("cpyext takes the text of a str subclass from its overridden __len__")
def test_term_with_a_lying_length(index):
    assert index.fuzzy_match(ShortStr("abc"), 0) == [("abc", 1, 0)]


@pypy_differs("cpyext asks the metaclass for the class's name before any C code runs")
def test_flag_of_a_type_that_hides_its_names(index):
    with pytest.raises(TypeError) as raised:
        index.fuzzy_match_video("ab", 1, None, Unreadable())
    assert str(raised.value).startswith("argument 'include_prefix_nodes': '")
    assert str(raised.value).endswith("' object cannot be converted to 'PyBool'")


def test_keyword_names_bind_by_their_text(index):
    assert index.fuzzy_match(**{DeceivingStr("term"): "abd", "max_dist": 0}) == [("abd", 1, 0)]
    for name in ("\udc80", "tèrm", "term\0"):
        with pytest.raises(TypeError) as raised:
            index.fuzzy_match("abd", **{name: 1})
        assert str(raised.value) == (
            f"PrefixSearch.fuzzy_match() got an unexpected keyword argument '{name}'"
        )


# ------------------------------------------------------------ re-entrant hosts


class CallsBack:
    """An integer whose conversion first runs `action`."""

    def __init__(self, action: Callable, value: int = 1):
        self.action, self.value = action, value

    def __index__(self):
        self.action()
        return self.value


def test_conversion_may_query_the_same_index(index):
    inner = []
    max_dist = CallsBack(lambda: inner.append(index.fuzzy_match_video("abd", 0)))
    assert index.fuzzy_match("abd", max_dist) == [("abc", 1, 1), ("abd", 1, 0)]
    assert inner == [index.fuzzy_match_video("abd", 0)]


def test_conversion_may_build_and_restore_indexes(index):
    made = []

    def build_another():
        made.append(PrefixSearch.from_internal_data_v2(*two_node_args()))
        made.append(PrefixSearch.from_bytes(index.to_bytes()))

    image = PrefixSearch.from_internal_data_v2(*two_node_args(video_top_n=CallsBack(build_another)))
    assert image.to_bytes() == made[0].to_bytes()
    assert made[1].to_bytes() == index.to_bytes()


def test_index_outlives_its_last_outside_reference():
    holder = [PrefixSearch.from_internal_data_v2(*two_node_args())]

    def drop():
        holder.clear()
        gc.collect()

    assert holder[0].fuzzy_match("a", CallsBack(drop, 0)) == [("a", 1, 0)]
    assert holder == []


def test_conversion_failing_inside_a_nested_call(index):
    def nested_failure():
        with pytest.raises(OverflowError):
            index.fuzzy_match("a", -1)

    assert index.fuzzy_match("abd", CallsBack(nested_failure, 0)) == [("abd", 1, 0)]


# ------------------------------------------------------------ random mixtures

hostile_values = st.sampled_from(
    [
        *HOSTILE_INTEGERS.values(),
        lambda: "abc",
        lambda: DeceivingStr("ab"),
        lambda: b"ab",
        lambda: bytearray(b"\0\1"),
        lambda: memoryview(b"\0"),
        lambda: [0],
        lambda: (1, [0], [1]),
        lambda: range(2),
        lambda: {0: 0},
        lambda: generator([0]),
        lambda: LyingLength([0, 1], -1),
        lambda: FailingAt([0, 1], 1, TypeError("host")),
        lambda: FailingAt([0, 1], 0, HostError("host")),
        lambda: NonIterator([0]),
        lambda: ByIndex([1, 0], 1, HostTypeError("host")),
        lambda: DeceivingFloat(0.5),
        lambda: Real(0.25),
        lambda: Real("x"),
        lambda: NumpyBool(True),
        lambda: NumpyBool(HostError("bool")),
        lambda: math.inf,
        lambda: object(),
    ]
)


@st.composite
def spoiled_arguments(draw, valid: tuple):
    """Factories of `valid` with one or two positions given hostile values."""
    positions = draw(st.lists(st.integers(0, len(valid) - 1), min_size=1, max_size=2, unique=True))
    makers = {position: draw(hostile_values) for position in positions}

    def make():
        args = list(valid)
        for position, maker in makers.items():
            args[position] = maker()
        return tuple(args)

    return make


@settings(max_examples=300, deadline=None)
@given(spoiled_arguments(two_node_args()))
def test_random_hostile_build_arguments(make_args):
    actual, expected = build_outcomes(make_args)
    assert_same(actual, expected)


@settings(max_examples=300, deadline=None)
@given(
    st.sampled_from(
        [
            ("fuzzy_match", ("abd", 1, None)),
            ("fuzzy_match", ("x", 2, 2)),
            ("fuzzy_match_video", ("abd", 1, None, None, None)),
            ("fuzzy_match_video", ("ab", 1, 3, True, 0.0)),
        ]
    ).flatmap(lambda case: st.tuples(st.just(case[0]), spoiled_arguments(case[1])))
)
def test_random_hostile_query_arguments(index, case):
    method, make_args = case
    args = make_args()
    if ON_PYPY and any(isinstance(value, Index) for value in args[4:]):
        return  # cpyext refuses __index__ where a float is wanted (test_min_score_by_index)
    actual, expected = query_outcomes(index, method, make_args)
    assert_same(actual, expected)
