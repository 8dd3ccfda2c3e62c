"""A plain-Python model of the two queries, over ModelTrie.

`fuzzy_match` and `fuzzy_match_video` return what the extension's methods of
the same names should return for an index holding `trie`, or raise ModelPanic
with the message of the PanicException that the extension should raise. Every
array read that the extension bounds-checks goes through `at`, in the same
order, so that a damaged index fails on the same read.

Written to be obviously right, not fast: a recursive walk that recomputes a
full (unclamped) row of the edit-distance table for every visited node.
"""

from __future__ import annotations

from typing import Callable, List, Optional, Sequence, Tuple

from model_trie import INT32, ModelTrie

MAX_DISTANCE_BOUND = 65535
FUZZY_WEIGHT = 0.05
PREFIX_NODE_FACTOR = 0.85
DEFAULT_MIN_SCORE = 0.01


class ModelPanic(Exception):
    """What the extension raises as PanicException."""


def at(array: Sequence, index: int):
    if index >= len(array):
        raise ModelPanic(f"index out of bounds: the len is {len(array)} but the index is {index}")
    return array[index]


def children(trie: ModelTrie, node: int) -> range:
    begin = at(trie.node_shifts, node)
    if node + 1 < len(trie.node_shifts):
        end = trie.node_shifts[node + 1]
    else:
        end = len(trie.child_transitions)
    return range(begin, end)


class _LimitReached(Exception):
    pass


Hit = Tuple[int, int, str]  # (node, distance, path text)


def walk(
    trie: ModelTrie,
    term: str,
    max_dist: int,
    limit: Optional[int],
    accepts: Callable[[int], bool],
) -> List[Hit]:
    """The nodes within the bound that `accepts`, in depth-first pre-order.

    `accepts` is asked only about nodes whose path text is within the bound.
    """
    hits: List[Hit] = []
    if limit == 0 or not trie.node_shifts:
        return hits
    bound = min(max_dist, MAX_DISTANCE_BOUND)
    n = len(term)

    def visit(node: int, row: List[int], text: str) -> None:
        for k in children(trie, node):
            child = at(trie.child_transitions, k)
            label = at(trie.child_labels, child)
            if label == 0:
                continue
            char = chr(label)
            new_row = [row[0] + 1]
            for j in range(1, n + 1):
                new_row.append(
                    min(row[j] + 1, new_row[j - 1] + 1, row[j - 1] + (term[j - 1] != char))
                )
            if min(new_row) > bound:
                continue
            if new_row[n] <= bound and accepts(child):
                hits.append((child, new_row[n], text + char))
                if limit is not None and len(hits) >= limit:
                    raise _LimitReached
            visit(child, new_row, text + char)

    try:
        visit(0, list(range(n + 1)), "")
    except _LimitReached:
        pass
    return hits


def edit_distance(a: Sequence, b: Sequence, transpositions: bool) -> int:
    """The Levenshtein distance, or with `transpositions` the optimal string
    alignment distance: two adjacent characters swapped count as one edit, and
    no character is edited twice ("ca" is three edits from "abc", not two)."""
    table = [list(range(len(b) + 1))]
    for _ in a:
        table.append(table_row(table, a, b, transpositions))
    return table[len(a)][len(b)]


def table_row(table: List[List[int]], a: Sequence, b: Sequence, transpositions: bool) -> List[int]:
    """Row i = len(table) of the classic table of edit_distance(a, b), whose
    cell j is the distance between a[:i] and b[:j], from the rows above it."""
    i = len(table)
    above = table[i - 1]
    char = a[i - 1]
    row = [i]
    for j in range(1, len(b) + 1):
        cell = min(above[j] + 1, row[j - 1] + 1, above[j - 1] + (char != b[j - 1]))
        if transpositions and i > 1 and j > 1 and char == b[j - 2] and a[i - 2] == b[j - 1]:
            cell = min(cell, table[i - 2][j - 2] + 1)
        row.append(cell)
    return row


def fuzzy_match(
    trie: ModelTrie, term: str, max_dist: int = 1, limit: Optional[int] = None
) -> List[Tuple[str, int, int]]:
    hits = walk(trie, term, max_dist, limit, lambda node: bool(at(trie.is_terminal, node)))
    return [(text, 1, distance) for _node, distance, text in hits]


def fuzzy_match_nodes(
    trie: ModelTrie, term: str, max_dist: int, terminal_only: bool
) -> List[Tuple[int, int]]:
    def accepts(node: int) -> bool:
        return not terminal_only or bool(at(trie.is_terminal, node))

    return [(node, distance) for node, distance, _text in walk(trie, term, max_dist, None, accepts)]


def weight(distance: int, term_length: int) -> float:
    if distance == 0:
        return 1.0
    if term_length == 0:
        return 0.0
    return (1.0 - distance / term_length) * FUZZY_WEIGHT


def video_id_text(trie: ModelTrie, position: int) -> Optional[str]:
    if trie.id_mode == INT32:
        if position >= len(trie.video_int_ids):
            return None
        return str(trie.video_int_ids[position])
    if position >= len(trie.video_uuids):
        return None
    digits = bytes(trie.video_uuids[position]).hex()
    return "-".join([digits[0:8], digits[8:12], digits[12:16], digits[16:20], digits[20:32]])


def video_scores(trie: ModelTrie, hits: List[Tuple[int, int]], term_length: int) -> dict:
    """Each video's score for one term from its (node, distance) hits: its
    weighted counts over the hits' payloads over their weighted total counts
    (no scores when that total weighs nothing)."""
    sums: dict = {}
    weight_total = 0.0
    for node, distance in hits:
        w = weight(distance, term_length)
        if distance != 0 and not w > 0.0:
            continue
        if not at(trie.is_terminal, node):
            w = w * PREFIX_NODE_FACTOR
        payload = at(trie.payloads, node)
        if payload is None:
            continue
        total_count, video_ids, video_counts = payload
        weight_total = weight_total + w * total_count
        for i, video in enumerate(video_ids):
            sums[video] = sums.get(video, 0.0) + w * at(video_counts, i)
    if not weight_total > 0.0:
        return {}
    return {video: total / weight_total for video, total in sums.items()}


def fuzzy_match_video(
    trie: ModelTrie,
    term: str,
    max_dist: int = 1,
    limit: Optional[int] = None,
    include_prefix_nodes: Optional[bool] = None,
    min_score: Optional[float] = None,
) -> List[Tuple[str, float]]:
    if include_prefix_nodes is None:
        hits = fuzzy_match_nodes(trie, term, max_dist, terminal_only=True)
        # Whole terms that weigh nothing leave the fall-back to prefix nodes open.
        if not any(weight(distance, len(term)) > 0.0 for _node, distance in hits):
            hits = fuzzy_match_nodes(trie, term, max_dist, terminal_only=False)
    else:
        hits = fuzzy_match_nodes(trie, term, max_dist, terminal_only=not include_prefix_nodes)

    least = DEFAULT_MIN_SCORE if min_score is None else min_score
    candidates = list(video_scores(trie, hits, len(term)).items())
    candidates = [(video, score) for video, score in candidates if score >= least]
    candidates.sort(key=lambda candidate: (-candidate[1], candidate[0]))
    if limit is not None:
        candidates = candidates[:limit]
    results = []
    for video, score in candidates:
        text = video_id_text(trie, video)
        if text is not None:
            results.append((text, score))
    return results
