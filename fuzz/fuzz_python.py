"""Fuzz target (atheris): the Python surface of _kelnor against its Python models.

Each input drives one of three things:

- a build: the six arrays of a small valid index (tests/host_data.py), in which
  the input replaces arguments, elements or payload items by arbitrary objects
  (integers at and past the 32- and 64-bit edges, NaN, str subclasses, bytes,
  bytearray, memoryview, generators, sequences whose __len__ lies or whose
  iteration raises, objects whose __index__ raises or returns a huge value);
- a restore: from_bytes of a valid image with byte edits, or of another type;
- queries: fuzzy_match and fuzzy_match_video on a few fixed indexes (one of
  them damaged), with arguments that may be arbitrary objects, by position or
  keyword.

The extension must answer exactly as the models in tests/ do (model_build,
model_image, model_match): the same index image, the same results, or the same
exception type and message. The only exceptions allowed at all are TypeError,
ValueError (UnicodeEncodeError included), OverflowError, PanicException where
the index may be damaged, and HostileError, which the hostile objects raise
themselves. Anything else, a difference from the models, or a crash is a
finding. Every new index is queried and re-encoded; where its child lists
reach some node twice, the model's walk could be exponentially long, so the
extension's answers are only checked for their shape (its walks stop at
their budget with PanicException).

Run with tests/ importable and the extension on PYTHONPATH:
    PYTHONPATH=build/dev python3 fuzz/fuzz_python.py -max_total_time=60 fuzz/corpus/fuzz_python
"""

from __future__ import annotations

import math
import sys
from pathlib import Path
from typing import Callable, List

import atheris

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

with atheris.instrument_imports():
    import model_build
    import model_image
    import model_match
    from host_data import InternalData, int_video_index, internal_data, uuid_video_index
    from model_trie import ModelTrie

from _kelnor import PrefixSearch

MAX_DEPTH = 3
EDGE_INTS = [
    -1,
    0,
    1,
    250,
    251,
    65535,
    65536,
    2**31,
    2**32 - 1,
    2**32,
    2**63,
    2**64 - 1,
    2**64,
    -(2**64),
    2**100,
]
FLOATS = [math.nan, math.inf, -math.inf, -0.0, 0.5, 1e-300, 1e300, 2.0**64]
WORDS = ["car", "cart", "cat", "harry", "harold", "naïve", "é", "€uro", "😀", "ab", "a", ""]
ACCEPTED = (TypeError, ValueError, OverflowError)


class HostileError(Exception):
    """Raised by the hostile objects; the extension must let it through unchanged."""


class StrSubclass(str):
    pass


class IntSubclass(int):
    pass


class TupleSubclass(tuple):
    pass


class BytesSubclass(bytes):
    pass


class LyingLength:
    """A sequence whose __len__ disagrees with what iterating over it yields."""

    def __init__(self, items: list, length: int) -> None:
        self.items, self.length = items, length

    def __len__(self) -> int:
        return self.length

    def __getitem__(self, index: int):
        return self.items[index]


class RaisingIteration:
    """A sequence whose items cannot be read."""

    def __len__(self) -> int:
        return 3

    def __getitem__(self, index: int):
        raise HostileError("no items")


class RaisingIndex:
    def __index__(self) -> int:
        raise HostileError("no index")


class IndexOf:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


class RaisingFloat:
    def __float__(self) -> float:
        raise HostileError("no float")


# ---------------------------------------------------------------- objects


def any_object(fdp: atheris.FuzzedDataProvider, depth: int = 0) -> object:
    kind = fdp.ConsumeIntInRange(0, 24)
    if depth >= MAX_DEPTH and kind >= 9:
        kind %= 9
    if kind == 0:
        return None
    if kind == 1:
        return fdp.ConsumeIntInRange(0, 300)
    if kind == 2:
        return fdp.PickValueInList(EDGE_INTS)
    if kind == 3:
        return fdp.ConsumeBool()
    if kind == 4:
        return fdp.PickValueInList(FLOATS)
    if kind == 5:
        return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 6))
    if kind == 6:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20))
    if kind == 7:
        return bytearray(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20)))
    if kind == 8:
        return memoryview(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20)))
    if kind == 9:
        return any_list(fdp, depth)
    if kind == 10:
        return tuple(any_list(fdp, depth))
    if kind == 11:
        return range(fdp.ConsumeIntInRange(0, 20))
    if kind == 12:
        return (item for item in any_list(fdp, depth))
    if kind == 13:
        return StrSubclass(fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 4)))
    if kind == 14:
        return IntSubclass(fdp.PickValueInList(EDGE_INTS))
    if kind == 15:
        return TupleSubclass(any_list(fdp, depth))
    if kind == 16:
        return LyingLength(any_list(fdp, depth), fdp.PickValueInList([0, 1, 2**40, 7]))
    if kind == 17:
        return RaisingIteration()
    if kind == 18:
        return RaisingIndex()
    if kind == 19:
        return IndexOf(fdp.PickValueInList(EDGE_INTS))
    if kind == 20:
        return BytesSubclass(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 20)))
    if kind == 21:
        return RaisingFloat()
    if kind == 22:
        return {1: 2}
    if kind == 23:
        return {1, 2}
    return object()


def any_list(fdp: atheris.FuzzedDataProvider, depth: int) -> list:
    return [any_object(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 4))]


def replaced_somewhere(fdp: atheris.FuzzedDataProvider, value: object, depth: int = 0) -> object:
    """`value` with one part, or the whole, replaced by an arbitrary object."""
    if depth >= MAX_DEPTH or fdp.ConsumeIntInRange(0, 3) == 0:
        return any_object(fdp)
    if isinstance(value, (list, tuple)) and value:
        items = list(value)
        position = fdp.ConsumeIntInRange(0, len(items))
        if position == len(items):
            items.append(any_object(fdp))
        else:
            items[position] = replaced_somewhere(fdp, items[position], depth + 1)
        return tuple(items) if isinstance(value, tuple) else items
    return any_object(fdp)


def reshaped(fdp: atheris.FuzzedDataProvider, value: object) -> object:
    """The same items as another kind of sequence, or as something else."""
    if not isinstance(value, list):
        return value
    shape = fdp.ConsumeIntInRange(0, 5)
    if shape == 1:
        return tuple(value)
    if shape == 2:
        return LyingLength(value, fdp.PickValueInList([0, len(value) + 1, 2**40]))
    if shape == 3:
        return (item for item in value)
    return value


# ---------------------------------------------------------------- outcomes


def outcome(call: Callable[[], object]) -> tuple:
    """("ok", value) or (exception type name, message), for an allowed exception."""
    try:
        return ("ok", call())
    except model_build.ModelPanic as error:
        return ("PanicException", str(error))
    except model_match.ModelPanic as error:
        return ("PanicException", str(error))
    except model_image.ModelDecodeError as error:
        return ("ValueError", "decode error: " + error.text)
    except ACCEPTED as error:
        return (type(error).__name__, str(error))
    except HostileError as error:
        return ("HostileError", str(error))
    except BaseException as error:
        if type(error).__name__ == "PanicException":
            return ("PanicException", str(error))
        raise


def require_same(actual: tuple, expected: tuple, what: str) -> None:
    if actual != expected:
        raise AssertionError(f"{what}: the extension gives {actual!r}, the model {expected!r}")


def walk_visits_each_node_once(trie: ModelTrie) -> bool:
    """Whether the child lists reach no node twice from the root (no cycle, no sharing)."""
    if not trie.node_shifts:
        return True
    seen = {0}
    unvisited = [0]
    while unvisited:
        node = unvisited.pop()
        if node >= len(trie.node_shifts):
            continue
        for position in trie.child_range(node):
            if position >= len(trie.child_transitions):
                break
            child = trie.child_transitions[position]
            if child in seen:
                return False
            seen.add(child)
            unvisited.append(child)
    return True


# ---------------------------------------------------------------- queries


def plain_query_arguments(fdp: atheris.FuzzedDataProvider) -> List[object]:
    return [
        fdp.PickValueInList(WORDS),
        fdp.ConsumeIntInRange(0, 3),
        fdp.PickValueInList([None, 0, 1, 2, 5, 2**32 - 1]),
        fdp.PickValueInList([None, True, False]),
        fdp.PickValueInList([None, 0.0, 0.01, 0.3, math.nan, -math.inf]),
    ]


def check_queries(fdp: atheris.FuzzedDataProvider, index: PrefixSearch, trie: ModelTrie) -> None:
    """Both queries with plain arguments, against the model of the walk and ranking."""
    term, max_dist, limit, include_prefix_nodes, min_score = plain_query_arguments(fdp)
    require_same(
        outcome(lambda: index.fuzzy_match(term, max_dist, limit)),
        outcome(lambda: model_match.fuzzy_match(trie, term, max_dist, limit)),
        f"fuzzy_match({term!r}, {max_dist}, {limit})",
    )
    require_same(
        outcome(
            lambda: index.fuzzy_match_video(term, max_dist, limit, include_prefix_nodes, min_score)
        ),
        outcome(
            lambda: model_match.fuzzy_match_video(
                trie, term, max_dist, limit, include_prefix_nodes, min_score
            )
        ),
        f"fuzzy_match_video({term!r}, {max_dist}, {limit}, {include_prefix_nodes}, {min_score})",
    )


def check_unmodelled_queries(fdp: atheris.FuzzedDataProvider, index: PrefixSearch) -> None:
    """Both queries with plain arguments, where the model's walk could be too long to run."""
    term, max_dist, limit, include_prefix_nodes, min_score = plain_query_arguments(fdp)
    for call, arity in [
        (lambda: index.fuzzy_match(term, max_dist, limit), 3),
        (lambda: index.fuzzy_match_video(term, max_dist, limit, include_prefix_nodes, min_score), 5),
    ]:
        result = outcome(call)
        if result[0] == "ok":
            check_result_shape(result[1], arity)


def check_hostile_queries(fdp: atheris.FuzzedDataProvider, index: PrefixSearch) -> None:
    """Both queries with arguments that may be anything: only allowed exceptions."""
    arguments = plain_query_arguments(fdp)
    for _ in range(fdp.ConsumeIntInRange(1, 3)):
        position = fdp.ConsumeIntInRange(0, len(arguments) - 1)
        arguments[position] = any_object(fdp)
    method = fdp.PickValueInList([index.fuzzy_match, index.fuzzy_match_video])
    count = 3 if method == index.fuzzy_match else 5
    names = ["term", "max_dist", "limit", "include_prefix_nodes", "min_score"][:count]
    given = arguments[:count][: fdp.ConsumeIntInRange(0, count)]
    by_keyword = fdp.ConsumeIntInRange(0, len(given))
    positional = given[: len(given) - by_keyword]
    keywords = dict(zip(names[len(positional) : len(given)], given[len(positional) :]))
    if fdp.ConsumeIntInRange(0, 9) == 0:
        keywords[fdp.PickValueInList(["b", "terms", "max_dist"])] = 1
    result = outcome(lambda: method(*positional, **keywords))
    if result[0] == "ok":
        check_result_shape(result[1], count)


def check_result_shape(results: object, arity: int) -> None:
    assert isinstance(results, list), results
    for entry in results:
        assert isinstance(entry, tuple) and isinstance(entry[0], str), entry
        if arity == 3:
            assert len(entry) == 3 and entry[1] == 1 and isinstance(entry[2], int), entry
        else:
            assert len(entry) == 2 and isinstance(entry[1], float), entry


def check_new_index(fdp: atheris.FuzzedDataProvider, index: PrefixSearch) -> None:
    image = index.to_bytes()
    trie = model_image.decode(image)
    require_same(("ok", PrefixSearch.from_bytes(image).to_bytes()), ("ok", image), "re-encoding")
    if walk_visits_each_node_once(trie):
        check_queries(fdp, index, trie)
    else:
        check_unmodelled_queries(fdp, index)


# ---------------------------------------------------------------- actions


def small_index_arguments(fdp: atheris.FuzzedDataProvider) -> InternalData:
    words = [fdp.PickValueInList(WORDS) for _ in range(fdp.ConsumeIntInRange(0, 4))]
    videos = fdp.ConsumeIntInRange(0, 3)
    entries = [
        (word, (fdp.ConsumeIntInRange(0, 9), [k % max(videos, 1) for k in range(2)], [3, 1]))
        for word in words
    ]
    table = (
        uuid_video_index(bytes([k]) * 16 for k in range(videos))
        if fdp.ConsumeBool()
        else int_video_index(range(7, 7 + videos))
    )
    return internal_data(entries, table, video_top_n=fdp.ConsumeIntInRange(0, 3))


def build_arguments(data: bytes) -> tuple:
    """The six build arguments an input makes; a fresh set of objects on every call."""
    fdp = atheris.FuzzedDataProvider(data)
    fdp.ConsumeIntInRange(0, 2)  # the action
    arguments = list(small_index_arguments(fdp).args())
    for _ in range(fdp.ConsumeIntInRange(0, 3)):
        position = fdp.ConsumeIntInRange(0, 5)
        arguments[position] = replaced_somewhere(fdp, arguments[position])
    position = fdp.ConsumeIntInRange(0, 5)
    arguments[position] = reshaped(fdp, arguments[position])
    return tuple(arguments)


def fuzz_build(data: bytes, fdp: atheris.FuzzedDataProvider) -> None:
    built = outcome(lambda: PrefixSearch.from_internal_data_v2(*build_arguments(data)))
    modelled = outcome(lambda: model_build.build(*build_arguments(data)))
    require_same(
        (built[0], built[1].to_bytes() if built[0] == "ok" else built[1]),
        (modelled[0], model_image.encode(modelled[1]) if modelled[0] == "ok" else modelled[1]),
        "from_internal_data_v2",
    )
    if built[0] == "ok":
        check_new_index(fdp, built[1])


def fuzz_restore(fdp: atheris.FuzzedDataProvider) -> None:
    image = bytearray(FIXED_IMAGES[fdp.ConsumeIntInRange(0, len(FIXED_IMAGES) - 1)])
    for _ in range(fdp.ConsumeIntInRange(0, 4)):
        if image:
            image[fdp.ConsumeIntInRange(0, len(image) - 1)] = fdp.ConsumeIntInRange(0, 255)
    if fdp.ConsumeBool():
        image = bytearray(fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 512)))
    argument = fdp.PickValueInList([bytes, BytesSubclass, bytearray, memoryview, list])(image)
    restored = outcome(lambda: PrefixSearch.from_bytes(argument))
    if isinstance(argument, bytes):
        modelled = outcome(lambda: model_image.decode(bytes(argument)))
        require_same(
            (restored[0], restored[1].to_bytes() if restored[0] == "ok" else restored[1]),
            (modelled[0], model_image.encode(modelled[1]) if modelled[0] == "ok" else modelled[1]),
            "from_bytes",
        )
    elif restored[0] != "TypeError":
        raise AssertionError(f"from_bytes of a {type(argument).__name__}: {restored!r}")
    if restored[0] == "ok":
        check_new_index(fdp, restored[1])


def fuzz_queries(fdp: atheris.FuzzedDataProvider) -> None:
    index, trie = FIXED_INDEXES[fdp.ConsumeIntInRange(0, len(FIXED_INDEXES) - 1)]
    if fdp.ConsumeBool():
        check_queries(fdp, index, trie)
    else:
        check_hostile_queries(fdp, index)


def test_one_input(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    action = fdp.ConsumeIntInRange(0, 2)
    if action == 0:
        fuzz_build(data, fdp)
    elif action == 1:
        fuzz_restore(fdp)
    else:
        fuzz_queries(fdp)


def fixed_tries() -> List[ModelTrie]:
    words = model_build.build(
        *internal_data(
            [(word, (len(word), [k % 3, 2], [2, 1])) for k, word in enumerate(WORDS)],
            int_video_index([5, 2**32 - 1, 9]),
        ).args()
    )
    damaged = model_build.build(*internal_data([("ab", (3, [0], [3]))]).args())
    damaged.child_transitions.append(len(damaged.node_shifts) + 5)
    damaged.node_shifts[-1] = len(damaged.child_transitions) - 1
    damaged.is_terminal.pop()
    return [words, damaged, ModelTrie(), ModelTrie(id_mode=1)]


def fixed_indexes() -> List[tuple]:
    return [(PrefixSearch.from_bytes(model_image.encode(t)), t) for t in fixed_tries()]


FIXED_INDEXES = fixed_indexes()
FIXED_IMAGES = [model_image.encode(trie) for trie in fixed_tries()]


def main() -> None:
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
