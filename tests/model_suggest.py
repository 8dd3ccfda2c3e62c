"""A plain-Python model of PrefixSearch.suggest over ModelTrie.

Written to be obviously right, not fast: every path from the root is walked
(as far as it can still matter), each node's distance is a full table of the
edit distance between its labels and the text, and the terms found are
sorted at the end. Reads go through model_match.at, so a damaged index fails
as ModelPanic; a trie whose paths would outrun VISIT_BUDGET or DEPTH_BUDGET raises
ModelTooBig, which a test takes as "not drawn".
"""

from __future__ import annotations

from typing import List, Optional, Tuple

from model_match import MAX_DISTANCE_BOUND, at, children, edit_distance
from model_trie import ModelTrie

VISIT_BUDGET = 20000
DEPTH_BUDGET = 60  # deeper paths go round a cycle

Suggestion = Tuple[str, int, int]  # (term, distance, count)


class ModelTooBig(Exception):
    """The model would take too long on this trie."""


def spelled(label: int) -> str:
    """How a label is spelled in a text: U+FFFD for what is no scalar value."""
    if label > 0x10FFFF or 0xD800 <= label <= 0xDFFF:
        return "\ufffd"
    return chr(label)


def default_bound(text: str) -> int:
    return 0 if len(text) < 4 else 1 if len(text) < 8 else 2


def total(trie: ModelTrie, node: int) -> int:
    payload = at(trie.payloads, node)
    return 0 if payload is None else payload[0]


def own_count(trie: ModelTrie, node: int) -> int:
    own = total(trie, node)
    for k in children(trie, node):
        child = at(trie.child_transitions, k)
        if child != node:
            own -= total(trie, child)
    return max(own, 0)


def suggest(
    trie: ModelTrie,
    text: str,
    max_dist: Optional[int] = None,
    limit: Optional[int] = 10,
    complete: bool = True,
    transpositions: bool = False,
) -> List[Suggestion]:
    bound = min(default_bound(text) if max_dist is None else max_dist, MAX_DISTANCE_BOUND)
    if not trie.node_shifts or limit == 0:
        return []
    found: List[Suggestion] = []
    visits = 0

    def visit(node: int, labels: List[int], least: int) -> None:
        nonlocal visits
        for k in children(trie, node):
            child = at(trie.child_transitions, k)
            label = at(trie.child_labels, child)
            if label == 0:
                continue
            visits += 1
            if visits > VISIT_BUDGET or len(labels) > DEPTH_BUDGET:
                raise ModelTooBig
            path = labels + [label]
            own = edit_distance(path, [ord(c) for c in text], transpositions)
            nearest = min(least, own) if complete else own
            if nearest <= bound and at(trie.is_terminal, child):
                found.append(("".join(map(spelled, path)), nearest, own_count(trie, child)))
            # Below a prefix within the bound every term completes the text;
            # elsewhere a walk reads the children of paths up to the text's
            # length plus the bound (and of no longer ones), so the model
            # reads at least what the index does.
            if (complete and nearest <= bound) or len(path) <= len(text) + bound:
                visit(child, path, nearest)

    visit(0, [], len(text) if complete else MAX_DISTANCE_BOUND + 1)
    found.sort(key=lambda suggestion: (suggestion[1], -suggestion[2], suggestion[0]))
    return found if limit is None else found[:limit]
