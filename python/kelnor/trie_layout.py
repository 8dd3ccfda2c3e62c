"""The node arrays of a prefix trie over a set of terms.

Terms that share a prefix share the nodes of that prefix. Nodes are numbered
in depth-first pre-order from the root (node 0), so every parent comes before
its children, and each node's children are listed in ascending order of their
labels; a query therefore reports matches in code point order of their text.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import NamedTuple


class TrieLayout(NamedTuple):
    node_shifts: list[int]
    child_labels: list[str]  # "" for the root
    child_transitions: list[int]
    term_nodes: list[int]  # the node at which each term ends, in the order of the terms


def _shared_prefix_length(a: str, b: str) -> int:
    length = 0
    for x, y in zip(a, b):
        if x != y:
            break
        length += 1
    return length


def lay_out(sorted_terms: Sequence[str]) -> TrieLayout:
    """The trie of `sorted_terms`: distinct, non-empty and in ascending order.

    Inserting terms in sorted order creates the nodes in pre-order, so each new
    node's number is simply the next one.
    """
    labels = [""]
    children: list[list[int]] = [[]]
    term_nodes = []
    path = [0]  # path[d]: the node at depth d on the way to the previous term
    previous = ""
    for term in sorted_terms:
        del path[_shared_prefix_length(previous, term) + 1 :]
        for label in term[len(path) - 1 :]:
            node = len(labels)
            children[path[-1]].append(node)
            labels.append(label)
            children.append([])
            path.append(node)
        term_nodes.append(path[-1])
        previous = term

    node_shifts = []
    transitions: list[int] = []
    for kids in children:
        node_shifts.append(len(transitions))
        transitions.extend(kids)
    return TrieLayout(node_shifts, labels, transitions, term_nodes)
