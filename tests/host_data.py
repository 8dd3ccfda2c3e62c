"""What a host hands to PrefixSearch.from_internal_data_v2, made from terms.

`internal_data(entries)` turns (term, payload) pairs into the six arrays of
internal data version 2: a trie in which terms with a common prefix share the
nodes of that prefix, numbered parent before child (depth-first pre-order from
the root), each node's children in the order in which their first term came.
A payload is (total_count, [video positions], [counts]).

    data = internal_data([("ab", (5, [0], [5])), ("ac", (3, [1], [3]))],
                         video_index=int_video_index([7, 9]))
    index = PrefixSearch.from_internal_data_v2(*data.args())
"""

from __future__ import annotations

import copy
from dataclasses import dataclass, field
from typing import Dict, Iterable, List, Optional, Sequence, Tuple

import model_image
from _kelnor import PrefixSearch
from model_trie import UUID, ModelTrie

Payload = Tuple[int, List[int], List[int]]  # (total_count, video_ids, video_counts)

# The arguments for the terms "ab" (video 7, count 5) and "ac" (video 9,
# count 2; video 7, count 1): the example of internal data in docs/building.md.
TWO_TERMS = (
    [0, 1, 3, 3],
    ["", "a", "b", "c"],
    [None, None, (5, [0], [5]), (3, [1, 0], [2, 1])],
    [1, 2, 3],
    [bytes([7, 0, 0, 0]), bytes([9, 0, 0, 0])],
    10,
)

# A well-formed trie of two nodes, the term "a" on one video, which the tests
# break one argument at a time.
TWO_NODES = {
    "node_shifts": [0, 1],
    "child_labels": ["", "a"],
    "payloads": [None, (1, [0], [1])],
    "child_transitions": [1],
    "video_index": [b"\7\0\0\0"],
    "video_top_n": 3,
}


def two_node_args(**changes) -> tuple:
    """The six arguments, fresh copies of TWO_NODES' but for `changes`."""
    return tuple({**copy.deepcopy(TWO_NODES), **changes}.values())


@dataclass
class InternalData:
    node_shifts: List[int] = field(default_factory=list)
    child_labels: List[str] = field(default_factory=list)  # "" for the root
    payloads: List[Optional[Payload]] = field(default_factory=list)  # None: no term ends here
    child_transitions: List[int] = field(default_factory=list)
    video_index: List[bytes] = field(default_factory=list)
    video_top_n: int = 10

    def args(self) -> tuple:
        """The six arguments, in the order of from_internal_data_v2."""
        return (
            self.node_shifts,
            self.child_labels,
            self.payloads,
            self.child_transitions,
            self.video_index,
            self.video_top_n,
        )


@dataclass
class _Node:
    label: str
    payload: Optional[Payload] = None
    children: Dict[str, "_Node"] = field(default_factory=dict)  # insertion-ordered


def internal_data(
    entries: Iterable[Tuple[str, Payload]],
    video_index: Sequence[bytes] = (),
    video_top_n: int = 10,
) -> InternalData:
    """The arrays of the trie over `entries`; a repeated term keeps its last payload.

    The empty term puts its payload on the root.
    """
    root = _Node("")
    for term, payload in entries:
        node = root
        for char in term:
            child = node.children.get(char)
            if child is None:
                child = node.children[char] = _Node(char)
            node = child
        node.payload = payload

    order: List[_Node] = []
    stack = [root]
    while stack:
        node = stack.pop()
        order.append(node)
        stack.extend(reversed(node.children.values()))
    number = {id(node): n for n, node in enumerate(order)}

    data = InternalData(video_index=list(video_index), video_top_n=video_top_n)
    for node in order:
        data.node_shifts.append(len(data.child_transitions))
        data.child_labels.append(node.label)
        data.payloads.append(node.payload)
        data.child_transitions.extend(number[id(child)] for child in node.children.values())
    return data


def int_video_index(ids: Iterable[int]) -> List[bytes]:
    """A video table of 32-bit integer ids (4 bytes each, little-endian)."""
    return [video_id.to_bytes(4, "little") for video_id in ids]


def uuid_video_index(ids: Iterable[bytes]) -> List[bytes]:
    """A video table of UUIDs (16 bytes each, as given)."""
    table = [bytes(video_id) for video_id in ids]
    assert all(len(video_id) == 16 for video_id in table)
    return table


def word_trie(entries, id_mode=UUID, video_uuids=(), video_int_ids=()) -> ModelTrie:
    """The ModelTrie of (term, payload) pairs laid out as the host does, without
    propagation: nodes where no term ends have no payload."""
    data = internal_data(entries)
    return ModelTrie(
        node_shifts=data.node_shifts,
        child_labels=[ord(label) if label else 0 for label in data.child_labels],
        child_transitions=data.child_transitions,
        payloads=data.payloads,
        video_uuids=list(video_uuids),
        video_int_ids=list(video_int_ids),
        id_mode=id_mode,
        is_terminal=[payload is not None for payload in data.payloads],
    )


def restored(trie: ModelTrie) -> PrefixSearch:
    """The index that an image of `trie` restores."""
    return PrefixSearch.from_bytes(model_image.encode(trie))
