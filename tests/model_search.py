"""A plain-Python model of PrefixSearch.search over ModelTrie (a tree).

Written to be obviously right, not fast: the text is split with str.isalnum,
every labelled node's path text is compared with each word by the full
edit-distance table, each word's videos are scored by model_match's tally,
and the standings are sorted at the end.
"""

from __future__ import annotations

from typing import Dict, Iterator, List, Optional, Tuple

from model_match import at, children, edit_distance, video_id_text, video_scores, weight
from model_suggest import words_of
from model_trie import ModelTrie

MAX_SEARCH_WORDS = 32

Found = Tuple[str, int, float]  # (video id, words answered, summed score)


def search_bound(word: str) -> int:
    """The bound of a word when none is given: exact below 3 characters, one
    edit from 3 to 7, two from 8."""
    return 0 if len(word) < 3 else 1 if len(word) < 8 else 2


def nodes_in_order(trie: ModelTrie, node: int = 0, text: str = "") -> Iterator[Tuple[int, str]]:
    """Every labelled node below `node` with its path text, in depth-first
    pre-order."""
    for k in children(trie, node):
        child = at(trie.child_transitions, k)
        label = at(trie.child_labels, child)
        if label == 0:
            continue
        yield child, text + chr(label)
        yield from nodes_in_order(trie, child, text + chr(label))


def word_hits(
    trie: ModelTrie, word: str, bound: int, transpositions: bool, typing: bool
) -> List[Tuple[int, int]]:
    within = []
    for node, text in nodes_in_order(trie) if trie.node_shifts else []:
        distance = edit_distance(text, word, transpositions)
        if distance <= bound:
            within.append((node, distance))
    if typing:
        return within
    terminal = [(node, d) for node, d in within if at(trie.is_terminal, node)]
    # Whole terms that say nothing about the word leave prefix nodes to answer.
    if any(weight(d, len(word)) > 0.0 for _node, d in terminal):
        return terminal
    return within


def search(
    trie: ModelTrie,
    text: str,
    max_dist: Optional[int] = None,
    limit: Optional[int] = 10,
    *,
    complete: bool = True,
    transpositions: bool = True,
    min_score: float = 0.0,
) -> List[Found]:
    words = words_of(text)
    if len(words) > MAX_SEARCH_WORDS:
        raise ValueError(
            f"PrefixSearch.search() takes at most {MAX_SEARCH_WORDS} words;"
            f" the text has {len(words)}"
        )
    typing_last = complete and text[-1:].isalnum()
    standings: Dict[int, Tuple[int, float]] = {}
    for i, word in enumerate(words):
        bound = search_bound(word) if max_dist is None else max_dist
        typing = typing_last and i == len(words) - 1
        hits = word_hits(trie, word, bound, transpositions, typing)
        for video, score in video_scores(trie, hits, len(word)).items():
            answered, total = standings.get(video, (0, 0.0))
            standings[video] = (answered + 1, total + score)
    ranked = sorted(
        (item for item in standings.items() if item[1][1] >= min_score),
        key=lambda item: (-item[1][0], -item[1][1], item[0]),
    )
    if limit is not None:
        ranked = ranked[:limit]
    found = []
    for video, (answered, score) in ranked:
        id_text = video_id_text(trie, video)
        if id_text is not None:
            found.append((id_text, answered, score))
    return found
