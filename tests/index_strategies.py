"""Hypothesis strategies for indexes of every route, shared by the query tests.

Arrays of terms (`tries_of_terms`), arrays of any shape (`tries_of_any_shape`:
any numbering, shared children, cycles, child ranges past the end) and
images of valid indexes with a few byte edits (`damaged_images`);
`walk_is_small` tells whether a query's walk stays within what a test can
afford.
"""

from __future__ import annotations

from functools import lru_cache
from typing import Iterator

from hypothesis import strategies as st

from _kelnor import PrefixSearch
from host_data import internal_data
from model_trie import ModelTrie

U32_MAX = 2**32 - 1
ALPHABET = "abé中"
# Queries whose walks could visit more paths than this are not drawn: a cycle
# that can be gone round in several ways makes walks exponentially long.
WALK_BUDGET = 5000


def child_positions(trie: ModelTrie, node: int) -> Iterator[int]:
    """The positions of `node`'s children that a walk can read without failing."""
    if node >= len(trie.node_shifts):
        return iter(())
    begin = trie.node_shifts[node]
    end = (
        trie.node_shifts[node + 1]
        if node + 1 < len(trie.node_shifts)
        else len(trie.child_transitions)
    )
    return iter(range(begin, min(end, len(trie.child_transitions))))


def walk_is_small(trie: ModelTrie, depth_limit: int) -> bool:
    """Whether every path of up to `depth_limit` labelled edges from the root
    (an upper bound of what a walk visits) fits in the budget."""
    visited = 0
    stack = [(0, 0)]
    while stack:
        node, depth = stack.pop()
        if depth == depth_limit:
            continue
        for position in child_positions(trie, node):
            child = trie.child_transitions[position]
            if child < len(trie.child_labels) and trie.child_labels[child] == 0:
                continue
            visited += 1
            if visited > WALK_BUDGET:
                return False
            stack.append((child, depth + 1))
    return True


counts = st.one_of(st.integers(0, 9), st.just(U32_MAX))


# Made once for each size of video table: hypothesis works out afresh whether
# each new strategy object can draw anything, which costs more than a draw.
@lru_cache(maxsize=None)
def payloads(video_count: int) -> st.SearchStrategy[tuple]:
    return _payloads(video_count)


@st.composite
def _payloads(draw, video_count: int):
    ids = draw(st.lists(st.integers(0, video_count + 1), max_size=4))
    return (draw(counts), ids, draw(st.lists(counts, min_size=len(ids), max_size=len(ids))))


video_tables = st.one_of(
    st.lists(st.binary(min_size=4, max_size=4), max_size=4),
    st.lists(st.binary(min_size=16, max_size=16), max_size=3),
)


@st.composite
def tries_of_terms(draw) -> tuple:
    video_index = draw(video_tables)
    entries = draw(
        st.lists(
            st.tuples(st.text(alphabet=ALPHABET, max_size=5), payloads(len(video_index))),
            max_size=10,
        )
    )
    return internal_data(entries, video_index, draw(st.integers(0, 4))).args()


@st.composite
def tries_of_any_shape(draw) -> tuple:
    """Arrays of any numbering: children below their parents, shared, repeated,
    a node its own child, cycles, now and then a child range past the end."""
    nodes = draw(st.integers(1, 7))
    transitions = draw(st.lists(st.integers(0, nodes - 1), max_size=2 * nodes))
    overrun = 1 if draw(st.integers(0, 7)) == 0 else 0
    shifts = draw(
        st.lists(st.integers(0, len(transitions) + overrun), min_size=nodes, max_size=nodes)
    )
    if draw(st.booleans()):
        shifts.sort()
    video_index = draw(video_tables)
    return (
        shifts,
        draw(st.lists(st.sampled_from(["", *ALPHABET]), min_size=nodes, max_size=nodes)),
        draw(st.lists(st.none() | payloads(len(video_index)), min_size=nodes, max_size=nodes)),
        transitions,
        video_index,
        draw(st.integers(0, 4)),
    )


# Bytes that matter to the decoder: node numbers and counts of a small index
# (which keep the image decodable but may point anywhere), markers, UTF-8
# leads and tags.
interesting_bytes = st.one_of(
    st.integers(0, 12),
    st.sampled_from([0x61, 0x7F, 0x80, 0xC3, 0xE4, 0xFA, 0xFB, 0xFC, 0xFD, 0xFF]),
    st.integers(0, 255),
)


def edited(draw, image: bytes, edits: int, kinds: list, new_bytes) -> bytes:
    """`image` with `edits` byte edits of the `kinds` drawn (set, insert,
    delete, truncate), new bytes drawn from `new_bytes`."""
    edited_image = bytearray(image)
    for _ in range(edits):
        kind = draw(st.sampled_from(kinds))
        position = draw(st.integers(0, len(edited_image)))
        if kind == "set" and position < len(edited_image):
            edited_image[position] = draw(new_bytes)
        elif kind == "insert":
            edited_image.insert(position, draw(new_bytes))
        elif kind == "delete" and position < len(edited_image):
            del edited_image[position]
        elif kind == "truncate":
            del edited_image[position:]
    return bytes(edited_image)


@st.composite
def damaged_images(draw) -> bytes:
    args = draw(tries_of_terms())
    image = PrefixSearch.from_internal_data_v2(*args).to_bytes()
    kinds = ["set"] * 6 + ["insert", "delete", "truncate"]
    return edited(draw, image, draw(st.integers(1, 3)), kinds, interesting_bytes)
