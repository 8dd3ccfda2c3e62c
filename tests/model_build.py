"""A plain-Python model of PrefixSearch.from_internal_data_v2.

`build` takes the same six arguments as the extension and either returns the
ModelTrie that the extension's index should hold or raises the exception that
the extension should raise, with the same type and message: argument
conversions first, in signature order, then the length checks, the transition
range check, the payload checks node by node and the video table check; then
the payloads are propagated up the trie.

Written to be obviously right, not fast.
"""

from __future__ import annotations

import operator
from typing import Callable, Dict, Iterator, List, Optional, TypeVar

from model_trie import INT32, UUID, ModelTrie, Payload

T = TypeVar("T")

U32_MAX = 2**32 - 1
U64_LIMIT = 2**64

# Messages that the interpreter words rather than the module; another
# interpreter may word them differently.
NEGATIVE_TO_UNSIGNED = "can't convert negative int to unsigned"
TOO_BIG_TO_CONVERT = "int too big to convert"
OUT_OF_RANGE = "out of range integral type conversion attempted"


class ModelPanic(Exception):
    """What the extension raises as PanicException: a violated invariant."""


# ------------------------------------------------------------ conversions


def _type_name(value: object) -> str:
    return type(value).__qualname__


def _cannot_convert(value: object, target: str) -> TypeError:
    return TypeError(f"'{_type_name(value)}' object cannot be converted to '{target}'")


def _is_sequence(value: object) -> bool:
    return not isinstance(value, dict) and hasattr(type(value), "__getitem__")


def items(value: object) -> Iterator:
    """The items of a sequence argument, to be converted while iterating over it."""
    if isinstance(value, str):
        raise TypeError("Can't extract `str` to `Vec`")
    if not _is_sequence(value):
        raise _cannot_convert(value, "Sequence")
    return iter(value)


def u32(value: object) -> int:
    number = value if isinstance(value, int) else operator.index(value)
    if number < 0:
        raise OverflowError(NEGATIVE_TO_UNSIGNED)
    if number >= U64_LIMIT:
        raise OverflowError(TOO_BIG_TO_CONVERT)
    if number > U32_MAX:
        raise OverflowError(OUT_OF_RANGE)
    return int(number)


def byte(value: object) -> int:
    number = u32(value)
    if number > 255:
        raise OverflowError(OUT_OF_RANGE)
    return number


def label(value: object) -> int:
    if not isinstance(value, str):
        raise _cannot_convert(value, "PyString")
    value.encode("utf-8")  # a lone surrogate has no UTF-8 form: UnicodeEncodeError
    return ord(value[0]) if value else 0


def argument(name: str, convert: Callable[[], T]) -> T:
    """Runs the conversion of argument `name`, prefixing a TypeError with the name."""
    try:
        return convert()
    except TypeError as error:
        if type(error) is not TypeError:
            raise
        raise TypeError(f"argument '{name}': {error}") from error.__cause__


def payload(value: object) -> Payload:
    if not isinstance(value, tuple):
        raise _cannot_convert(value, "PyTuple")
    if len(value) != 3:
        raise ValueError("Payload tuple must have 3 elements")
    total_count = u32(value[0])
    video_ids = [u32(item) for item in items(value[1])]
    video_counts = [u32(item) for item in items(value[2])]
    if len(video_ids) != len(video_counts):
        raise ValueError("video_ids and video_counts length mismatch")
    return (total_count, video_ids, video_counts)


# ------------------------------------------------------------------ build


def build(
    node_shifts: object,
    child_labels: object,
    payloads: object,
    child_transitions: object,
    video_index: object,
    video_top_n: object,
) -> ModelTrie:
    shifts = argument("node_shifts", lambda: [u32(item) for item in items(node_shifts)])
    labels = argument("child_labels", lambda: [label(item) for item in items(child_labels)])
    # Not list(): it sizes the list from __len__, which a host sequence may fake.
    entries = argument("payloads", lambda: [entry for entry in items(payloads)])
    transitions = argument(
        "child_transitions", lambda: [u32(item) for item in items(child_transitions)]
    )
    videos = argument(
        "video_index",
        lambda: [bytes(byte(b) for b in items(entry)) for entry in items(video_index)],
    )
    top_n = argument("video_top_n", lambda: u32(video_top_n))

    node_count = len(labels)
    if len(shifts) != node_count:
        raise ValueError(f"node_shifts len {len(shifts)} != child_labels len {node_count}")
    if len(entries) != node_count:
        raise ValueError(f"payloads len {len(entries)} != child_labels len {node_count}")
    for position, child in enumerate(transitions):
        if child >= node_count:
            raise ValueError(
                f"child_transitions[{position}] = {child} out of range [0..{node_count})"
            )
    converted = [None if entry is None else payload(entry) for entry in entries]

    trie = ModelTrie(
        node_shifts=shifts,
        child_labels=labels,
        child_transitions=transitions,
        payloads=converted,
        is_terminal=[entry is not None for entry in converted],
    )
    if all(len(video) == 16 for video in videos):
        trie.id_mode = UUID
        trie.video_uuids = videos
    elif all(len(video) == 4 for video in videos):
        trie.id_mode = INT32
        trie.video_int_ids = [int.from_bytes(video, "little") for video in videos]
    else:
        raise ValueError("video_index entries must be all 16 bytes (UUID) or all 4 bytes (int32)")
    propagate(trie, top_n)
    return trie


# ------------------------------------------------------------ propagation


def merge(own: Payload, children: List[Payload], top_n: int) -> Payload:
    """Own and children's videos, counts summed, ranked by total then by id, cut."""
    totals: Dict[int, int] = {}
    total_count = 0
    for part_total, video_ids, video_counts in [own, *children]:
        total_count += part_total
        for video_id, count in zip(video_ids, video_counts):
            totals[video_id] = totals.get(video_id, 0) + count
    ranked = sorted(totals.items(), key=lambda pair: (-pair[1], pair[0]))[:top_n]
    return (
        min(total_count, U32_MAX),
        [video_id for video_id, _ in ranked],
        [min(count, U32_MAX) for _, count in ranked],
    )


def propagate(trie: ModelTrie, top_n: int) -> None:
    """Every node's payload merged with its children's, from the highest node down.

    A child numbered above its node is read merged, one numbered below as given.
    """
    empty: Payload = (0, [], [])
    payloads: List[Optional[Payload]] = [p if p is not None else empty for p in trie.payloads]
    edge_count = len(trie.child_transitions)
    for node in reversed(range(len(payloads))):
        children = []
        for position in trie.child_range(node):
            if position >= edge_count:
                raise ModelPanic(
                    f"index out of bounds: the len is {edge_count} but the index is {position}"
                )
            child = trie.child_transitions[position]
            if child != node:
                children.append(payloads[child])
        own = payloads[node]
        if children:
            payloads[node] = merge(own, children, top_n)
        else:
            total_count, video_ids, video_counts = own
            payloads[node] = (total_count, video_ids[:top_n], video_counts[:top_n])
    trie.payloads = payloads
