"""A plain-Python model of PrefixSearch.suggest over ModelTrie.

Written to be obviously right, not fast: every path from the root is walked
(as far as it can still matter), each node's distance is a full table of the
edit distance between its labels and the text, and the terms found are
sorted at the end by their spelling cost (model_spelling): for whole terms
by cost, for completions by distance and then by the cost of the shortest
prefix at that distance; then by count and text. Reads go through model_match.at, so a damaged index fails
as ModelPanic; a trie whose paths would outrun VISIT_BUDGET or DEPTH_BUDGET raises
ModelTooBig, which a test takes as "not drawn".

`NearestTerms` gives the same answers for a trie that is a tree, term by term,
and cannot give up: it is the reference on tries too big for the walk (the
word lists).

`from_any_word` is suggest() with completions from any word of a phrase (an
index built with word_starts=True), by trying every way the typed words can
fall on the words of every phrase.
"""

from __future__ import annotations

import itertools
from typing import Dict, List, Optional, Sequence, Set, Tuple

from model_match import MAX_DISTANCE_BOUND, at, children, edit_distance, table_row
from model_spelling import spelling_cost
from model_trie import ModelTrie

VISIT_BUDGET = 20000
DEPTH_BUDGET = 60  # deeper paths go round a cycle

Suggestion = Tuple[str, int, int]  # (term, distance, count)
Ranked = Tuple[Suggestion, int]  # with its spelling cost
Term = Tuple[str, int]  # (term, own count)


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
    transpositions: bool = True,
) -> List[Suggestion]:
    bound = min(default_bound(text) if max_dist is None else max_dist, MAX_DISTANCE_BOUND)
    if not trie.node_shifts or limit == 0:
        return []
    found: List[Ranked] = []
    visits = 0
    typed = [ord(c) for c in text]

    def visit(node: int, labels: List[int], least: int, least_cost: Optional[int]) -> None:
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
            own = edit_distance(path, typed, transpositions)
            # A completion costs what its shortest prefix at its distance does.
            nearest, cost = least, least_cost
            if not complete or own < least:
                nearest, cost = own, spelling_cost(typed, path) if own <= bound else None
            if nearest <= bound and at(trie.is_terminal, child):
                assert cost is not None
                found.append((("".join(map(spelled, path)), nearest, own_count(trie, child)), cost))
            # Below a prefix within the bound every term completes the text;
            # elsewhere a walk reads the children of paths up to the text's
            # length plus the bound (and of no longer ones), so the model
            # reads at least what the index does.
            if (complete and nearest <= bound) or len(path) <= len(text) + bound:
                visit(child, path, nearest, cost)

    if complete:
        visit(0, [], len(typed), spelling_cost(typed, []) if len(typed) <= bound else None)
    else:
        visit(0, [], MAX_DISTANCE_BOUND + 1, None)

    return ranked(found, limit, complete)


def ranked(found: List[Ranked], limit: Optional[int], complete: bool) -> List[Suggestion]:
    """Completions nearest first; then the least spelling cost, the most
    counted, and in order of text."""

    def rank(ranked: Ranked) -> Tuple[int, int, int, str]:
        (term, distance, count), cost = ranked
        return (distance if complete else 0, cost, -count, term)

    found.sort(key=rank)
    suggestions = [suggestion for suggestion, _cost in found]
    return suggestions if limit is None else suggestions[:limit]


def terms_of(trie: ModelTrie) -> List[Term]:
    """The terms of a trie in which every node has one path (a tree), in order
    of text, each with its own count; a node reached twice is an error."""
    found: List[Term] = []
    seen: Set[int] = set()
    stack = [(0, "")]
    while stack:
        node, path = stack.pop()
        for k in children(trie, node):
            child = at(trie.child_transitions, k)
            label = at(trie.child_labels, child)
            if label == 0:
                continue
            if child in seen:
                raise ValueError(f"node {child} has more than one path: not a tree")
            seen.add(child)
            text = path + spelled(label)
            if at(trie.is_terminal, child):
                found.append((text, own_count(trie, child)))
            stack.append((child, text))
    return sorted(found)


class NearestTerms:
    """suggest() for `text` within `max_dist` over a tree whose terms are
    `terms`, worked out term by term.

    Each term has one table of the edit distance between its prefixes and the
    text (edit_distance's), whose last column holds the distance of each
    prefix: the last cell is the term's own distance, what suggest() finds
    without `complete`; the least cell, row 0 (the root's empty prefix)
    included, is the nearest prefix's, what it finds with `complete`. An edit
    changes the length by one at most, so a prefix longer than the text by
    more than the bound is not within it: the table stops at that depth. A
    term shares the rows of the prefix it has in common with the term before
    it, which are the same rows.
    """

    def __init__(
        self, terms: Sequence[Term], text: str, transpositions: bool, max_dist: Optional[int]
    ) -> None:
        self.bound = min(default_bound(text) if max_dist is None else max_dist, MAX_DISTANCE_BOUND)
        beyond = self.bound + 1
        depth = len(text) + self.bound
        # (term, own distance, its cost, nearest distance, its cost, count)
        self.distances: List[Tuple[str, int, int, int, int, int]] = []
        query = [ord(c) for c in text]
        table = [list(range(len(query) + 1))]
        before: List[int] = []
        for term, count in terms:
            labels = [ord(c) for c in term[:depth]]
            shared = 0
            while shared < min(len(labels), len(before)) and labels[shared] == before[shared]:
                shared += 1
            del table[shared + 1 :]
            while len(table) <= len(labels):
                table.append(table_row(table, labels, query, transpositions))
            column = [row[-1] for row in table]
            own = column[-1] if len(term) <= depth else beyond
            nearest = min(column)
            # A completion costs what its shortest prefix at its distance does.
            shortest = column.index(nearest)
            own_cost = spelling_cost(query, labels) if own <= self.bound else 0
            nearest_cost = spelling_cost(query, labels[:shortest]) if nearest <= self.bound else 0
            self.distances.append((term, own, own_cost, nearest, nearest_cost, count))
            before = labels

    def suggest(self, limit: Optional[int] = 10, complete: bool = True) -> List[Suggestion]:
        found: List[Ranked] = []
        for term, own, own_cost, nearest, nearest_cost, count in self.distances:
            distance, cost = (nearest, nearest_cost) if complete else (own, own_cost)
            if distance <= self.bound:
                found.append(((term, distance, count), cost))
        return ranked(found, limit, complete)


def words_of(text: str) -> List[str]:
    """The runs of letters and digits of `text` (str.isalnum)."""
    return ["".join(run) for alnum, run in itertools.groupby(text, str.isalnum) if alnum]


Closeness = Tuple[int, int]  # (distance, spelling cost)


def nearest_prefix(word: str, typed: str, transpositions: bool) -> Closeness:
    """The distance of the prefix of `word` nearest `typed` and the cost of the
    shortest prefix at that distance."""
    query = [ord(c) for c in typed]
    labels = [ord(c) for c in word]
    distances = [edit_distance(labels[:k], query, transpositions) for k in range(len(labels) + 1)]
    nearest = min(distances)
    return nearest, spelling_cost(query, labels[: distances.index(nearest)])


def whole_word(word: str, typed: str, transpositions: bool) -> Closeness:
    query, labels = [ord(c) for c in typed], [ord(c) for c in word]
    return edit_distance(labels, query, transpositions), spelling_cost(query, labels)


def from_any_word(
    terms: Sequence[Term],
    text: str,
    max_dist: Optional[int] = None,
    limit: Optional[int] = 10,
    transpositions: bool = True,
) -> List[Suggestion]:
    """suggest(text, complete=True) on an index of the phrases `terms` built
    with word starts: a phrase completes the text from its start, as on any
    index, or from its word w when the last typed word is within its bound of
    a prefix of w and the typed words before it match whole words before w in
    order, each within its bound (the least of the query's and the automatic
    one of its length), the sum of the distances within the query's bound;
    each phrase once, at its nearest and then cheapest way."""
    plain = NearestTerms(terms, text, transpositions, max_dist)
    bound = plain.bound
    best: Dict[str, Tuple[Closeness, int]] = {}
    for term, _own, _own_cost, nearest, nearest_cost, count in plain.distances:
        if nearest <= bound:
            best[term] = ((nearest, nearest_cost), count)
    typed = words_of(text)
    for phrase, count in terms if typed else []:
        words = words_of(phrase)
        *earlier, last = typed
        for j, word in enumerate(words):
            at_last = nearest_prefix(word, last, transpositions)
            if at_last[0] > min(bound, default_bound(last)):
                continue
            for places in itertools.combinations(range(j), len(earlier)):
                matches = [whole_word(words[k], t, transpositions) for k, t in zip(places, earlier)]
                if any(d > min(bound, default_bound(t)) for (d, _), t in zip(matches, earlier)):
                    continue
                way = (
                    at_last[0] + sum(d for d, _ in matches),
                    at_last[1] + sum(c for _, c in matches),
                )
                if way[0] <= bound and (phrase not in best or way < best[phrase][0]):
                    best[phrase] = (way, count)
    found: List[Ranked] = [((p, d, count), c) for p, ((d, c), count) in best.items()]
    return ranked(found, limit, True)
