"""The queries on the edges between the extension's two walks, against the
Python model of tests/model_match.py.

On an index whose arrays hold every position they name, queries of up to 62
characters with bounds of up to 8 run on bit-parallel rows, reading labels
from bytes kept beside the edges (labels from U+0100 on are read from the
label array) and the first levels of the trie from a breadth-first copy
limited to 2**17 nodes; other queries and damaged indexes run on the checked
walk. Both must answer exactly as the model does.
"""

from __future__ import annotations

import random
import string
from typing import List, Sequence

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import model_image
import model_match
from _kelnor import PrefixSearch
from host_data import word_trie
from model_trie import INT32, ModelTrie

VIDEO_IDS = list(range(9000, 9012))


def restored(trie: ModelTrie) -> PrefixSearch:
    return PrefixSearch.from_bytes(model_image.encode(trie))


def trie_of_words(words: Sequence[str], rng: random.Random) -> ModelTrie:
    """The trie of `words` as the host lays it out, each word with a payload."""
    entries = []
    for word in words:
        videos = rng.sample(range(len(VIDEO_IDS)), rng.randint(1, 3))
        entries.append((word, (rng.randint(1, 40), videos, [rng.randint(1, 9) for _ in videos])))
    return word_trie(entries, id_mode=INT32, video_int_ids=VIDEO_IDS)


def assert_queries_match(trie: ModelTrie, index: PrefixSearch, terms: Sequence[str],
                         bounds: Sequence[int]) -> None:
    for term in terms:
        for max_dist in bounds:
            assert index.fuzzy_match(term, max_dist) == model_match.fuzzy_match(
                trie, term, max_dist
            ), (term, max_dist)
            for include in (None, True):
                assert index.fuzzy_match_video(term, max_dist, None, include, 0.0) == (
                    model_match.fuzzy_match_video(trie, term, max_dist, None, include, 0.0)
                ), (term, max_dist, include)


def near(word: str, rng: random.Random, alphabet: str) -> str:
    chars = list(word)
    for _ in range(rng.randint(0, 3)):
        position = rng.randrange(len(chars) + 1)
        edit = rng.choice(["insert", "delete", "replace"])
        if edit == "insert" or not chars:
            chars.insert(position, rng.choice(alphabet))
        elif edit == "delete":
            del chars[min(position, len(chars) - 1)]
        else:
            chars[min(position, len(chars) - 1)] = rng.choice(alphabet)
    return "".join(chars)


def test_query_lengths_around_a_machine_word():
    # 62 characters is the longest query on bit-parallel rows; terms run past 64.
    rng = random.Random(62)
    words = ["".join(rng.choice("ab") for _ in range(rng.randint(56, 70))) for _ in range(12)]
    words += [word[: rng.randint(50, len(word))] for word in words]
    trie = trie_of_words(words, rng)
    index = restored(trie)
    terms = [near(word, rng, "abc") for word in words]
    terms += [word[:length] for word in words[:4] for length in (61, 62, 63, 64, 65)]
    assert_queries_match(trie, index, terms, [0, 1, 2, 3])


@pytest.mark.parametrize("max_dist", [0, 1, 7, 8, 9, 10, 65535])
def test_bounds_around_the_bit_parallel_limit(max_dist):
    rng = random.Random(max_dist)
    words = ["".join(rng.choice("abcd") for _ in range(rng.randint(1, 11))) for _ in range(60)]
    trie = trie_of_words(words, rng)
    index = restored(trie)
    terms = ["", "a", "abcdabcd"] + [near(word, rng, "abcde") for word in words[:15]]
    assert_queries_match(trie, index, terms, [max_dist])


# Labels on both sides of the byte kept beside the edges (254 is the last one
# held there), control characters, and characters that take four UTF-8 bytes.
EDGE_LABELS = "\x01aþÿĀŁ中😀"
QUERY_CHARACTERS = EDGE_LABELS + "\x00x"


# Strategies made once: hypothesis works out afresh whether each new strategy
# object can draw anything, which cost more than the whole test's queries.
TREE_LABELS = st.sampled_from(EDGE_LABELS + "\x00")
PAYLOAD_OF_VIDEO = [
    st.none() | st.tuples(st.integers(1, 30), st.just([video]), st.just([2]))
    for video in range(len(VIDEO_IDS))
]


@st.composite
def shuffled_trees(draw):
    """Sound tries of up to 40 nodes in any numbering, whose children come in
    any order and may share labels."""
    size = draw(st.integers(1, 40))
    parents = [None] + [draw(st.integers(0, node - 1)) for node in range(1, size)]
    labels = [0] + [ord(draw(TREE_LABELS)) for _ in range(1, size)]
    numbering = draw(st.permutations(range(size)))
    root = numbering.index(0)
    numbering[0], numbering[root] = numbering[root], numbering[0]
    children = [[] for _ in range(size)]
    for node in range(1, size):
        children[numbering[parents[node]]].append(numbering[node])
    for siblings in children:
        siblings[:] = draw(st.permutations(siblings))
    node_labels = [0] * size
    for node in range(size):
        node_labels[numbering[node]] = labels[node]
    shifts, transitions = [], []
    for node in range(size):
        shifts.append(len(transitions))
        transitions.extend(children[node])
    payloads = [draw(PAYLOAD_OF_VIDEO[node % len(VIDEO_IDS)]) for node in range(size)]
    return ModelTrie(
        node_shifts=shifts,
        child_labels=node_labels,
        child_transitions=transitions,
        payloads=payloads,
        video_int_ids=VIDEO_IDS,
        id_mode=INT32,
        is_terminal=[draw(st.booleans()) for _ in range(size)],
    )


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    shuffled_trees(),
    st.text(alphabet=QUERY_CHARACTERS, max_size=6),
    st.integers(0, 4),
    st.sampled_from([None, 0, 1, 3]),
)
def test_shuffled_trees_with_shared_labels_match_the_model(trie, term, max_dist, limit):
    index = restored(trie)
    assert index.fuzzy_match(term, max_dist, limit) == model_match.fuzzy_match(
        trie, term, max_dist, limit
    )
    for include in (None, True, False):
        assert index.fuzzy_match_video(term, max_dist, limit, include, 0.0) == (
            model_match.fuzzy_match_video(trie, term, max_dist, limit, include, 0.0)
        )


def random_words_for(node_goal: int, rng: random.Random) -> List[str]:
    """Words whose trie has at least `node_goal` nodes."""
    prefixes = {""}
    words = []
    while len(prefixes) < node_goal:
        word = "".join(rng.choices(string.ascii_lowercase[:16], k=rng.randint(3, 11)))
        prefixes.update(word[:end] for end in range(1, len(word) + 1))
        words.append(word)
    return words


def test_index_larger_than_the_breadth_first_top():
    # More nodes than the top holds, so that the deeper levels are read from
    # the trie's own arrays.
    rng = random.Random(18)
    words = random_words_for(2**17 + 20_000, rng)
    trie = trie_of_words(words, rng)
    index = restored(trie)
    built = PrefixSearch.from_internal_data_v2(
        trie.node_shifts,
        [chr(label) if label else "" for label in trie.child_labels],
        trie.payloads,
        trie.child_transitions,
        [video.to_bytes(4, "little") for video in VIDEO_IDS],
        10,
    )
    terms = [near(word, rng, "abcdefghijklmnopq") for word in rng.sample(words, 12)]
    terms += [max(words, key=len)]
    assert_queries_match(trie, index, terms, [0, 1, 2])
    for term in terms:
        assert built.fuzzy_match(term, 2) == index.fuzzy_match(term, 2)
