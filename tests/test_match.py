"""The two queries: fuzzy_match and fuzzy_match_video.

Worked cases pin the walk order, the distances, the weights and the id texts;
the differential tests compare the extension with tests/model_match.py on
generated tries (well-formed and damaged) and on real word lists.
"""

from __future__ import annotations

import math
import random
import threading
from functools import lru_cache
from typing import List, Tuple

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kelnor
import model_build
import model_image
import model_match
from _kelnor import PrefixSearch
from host_data import int_video_index, internal_data, restored, uuid_video_index, word_trie
from host_objects import Index, Real
from model_match import ModelPanic
from model_trie import INT32, UUID, ModelTrie
from outcomes import outcome
from word_lists import WORD_LISTS, misspelt, read_words, word_index  # noqa: F401  (a fixture)

U32_MAX = 2**32 - 1
UUID_0_TO_15 = bytes(range(16))
UUID_0_TO_15_TEXT = "00010203-0405-0607-0809-0a0b0c0d0e0f"


# ---------------------------------------------------------------- indexes


def built(entries, video_index=(), video_top_n=10) -> PrefixSearch:
    """An index built by the host route from (term, payload) pairs."""
    data = internal_data(entries, video_index=video_index, video_top_n=video_top_n)
    return PrefixSearch.from_internal_data_v2(*data.args())


def terms(*words: str) -> PrefixSearch:
    """An index of `words`, each carrying an empty payload."""
    return built([(word, (0, [], [])) for word in words])


def chain(length: int, label: str = "a") -> ModelTrie:
    """Root, then `length` nodes in a line, all labelled `label` and terminal."""
    count = length + 1
    return ModelTrie(
        node_shifts=list(range(count)),
        child_labels=[0] + [ord(label)] * length,
        child_transitions=list(range(1, count)),
        payloads=[None] * count,
        is_terminal=[False] + [True] * length,
    )




def model_outcome(call) -> tuple:
    try:
        return ("ok", call())
    except ModelPanic as error:
        return ("panic", str(error))


def match_texts(index: PrefixSearch, *args, **kwargs) -> List[Tuple[str, int]]:
    return [(text, distance) for text, _flag, distance in index.fuzzy_match(*args, **kwargs)]


# ------------------------------------------------------ term matcher cases


def test_walk_order_is_preorder_in_transition_order():
    index = terms("car", "cart", "cat")
    assert index.fuzzy_match("car", 1) == [("car", 1, 0), ("cart", 1, 1), ("cat", 1, 1)]
    assert index.fuzzy_match("car", 1, 2) == [("car", 1, 0), ("cart", 1, 1)]


@pytest.mark.parametrize(
    "words, term, max_dist, expected",
    [
        (["a", "b", "ab"], "", 1, [("a", 1), ("b", 1)]),
        (["a", "b", "ab"], "", 0, []),
        (["ca", "car", "cart"], "car", 0, [("car", 0)]),
        (["ba"], "ab", 1, []),
        (["ba"], "ab", 2, [("ba", 2)]),
        (["cat"], "Cat", 1, [("cat", 1)]),
        (["cat"], "Cat", 0, []),
        (["été"], "ét", 1, [("été", 1)]),
        (["ét"], "et", 1, [("ét", 1)]),
        (["naïve", "naive"], "naive", 1, [("naïve", 1), ("naive", 0)]),
        (["中文", "中"], "中x", 1, [("中", 1), ("中文", 1)]),
        (["😀😀"], "😀", 1, [("😀😀", 1)]),
    ],
)
def test_distances(words, term, max_dist, expected):
    assert match_texts(terms(*words), term, max_dist) == expected


def test_every_flag_is_one_and_distance_within_bound():
    index = terms("car", "cart", "cat", "dog", "do", "cards")
    for max_dist in range(4):
        for text, flag, distance in index.fuzzy_match("cart", max_dist):
            assert flag == 1 and distance <= max_dist


def test_non_terminal_node_is_descended_but_not_reported():
    # "ca" is within the bound but only a prefix; its child "car" is reported.
    assert match_texts(terms("car"), "ca", 1) == [("car", 1)]


def test_pruned_terminal_is_neither_reported_nor_descended():
    # At "x" the row minimum is 1 > 0: neither "x" nor "xa" is examined.
    assert match_texts(terms("x", "xa"), "a", 0) == []


@pytest.mark.parametrize("limit, expected", [(None, 5), (1, 1), (2, 2), (5, 5), (9, 5)])
def test_limit_keeps_first_hits_in_walk_order(limit, expected):
    index = terms("aa", "ab", "ac", "ad", "ae")
    everything = index.fuzzy_match("a", 1)
    assert len(everything) == 5
    assert index.fuzzy_match("a", 1, limit) == everything[:expected]


@pytest.mark.parametrize("method", ["fuzzy_match", "fuzzy_match_video"])
def test_limit_zero_returns_nothing(method):
    index = built([("a", (3, [0], [3]))], int_video_index([7]))
    assert getattr(index, method)("a", 1) != []
    assert getattr(index, method)("a", 1, 0) == []


def test_duplicate_siblings_are_both_reported():
    # Two children of the root with the same label.
    trie = ModelTrie(
        node_shifts=[0, 2, 2],
        child_labels=[0, ord("a"), ord("a")],
        child_transitions=[1, 2],
        payloads=[None, None, None],
        is_terminal=[False, True, True],
    )
    assert restored(trie).fuzzy_match("a", 0) == [("a", 1, 0), ("a", 1, 0)]


def test_label_zero_hides_its_subtree():
    trie = ModelTrie(
        node_shifts=[0, 2, 3, 3],
        child_labels=[0, 0, ord("b"), ord("a")],
        child_transitions=[1, 3, 2],
        payloads=[None] * 4,
        is_terminal=[False, True, True, True],
    )
    # Node 1 (label 0) and node 2 below it ("b") are never examined.
    assert restored(trie).fuzzy_match("b", 1) == [("a", 1, 1)]


def test_shared_child_is_reported_once_per_path():
    # Node 3 ("c") is a child of both "a" and "b".
    trie = ModelTrie(
        node_shifts=[0, 2, 3, 4],
        child_labels=[0, ord("a"), ord("b"), ord("c")],
        child_transitions=[1, 2, 3, 3],
        payloads=[None] * 4,
        is_terminal=[False, False, False, True],
    )
    assert restored(trie).fuzzy_match("ac", 1) == [("ac", 1, 0), ("bc", 1, 1)]


def test_cycle_is_followed_only_as_deep_as_the_bound_allows():
    # Node 1 ("a") is its own child.
    trie = ModelTrie(
        node_shifts=[0, 1],
        child_labels=[0, ord("a")],
        child_transitions=[1, 1],
        payloads=[None, None],
        is_terminal=[False, True],
    )
    assert match_texts(restored(trie), "aaa", 1) == [("aa", 1), ("aaa", 0), ("aaaa", 1)]


@pytest.mark.parametrize(
    "shifts, transitions, expected",
    [
        # Node 1 starts after node 2 does: it has no children.
        ([0, 2, 1], [1, 2], [("a", 1), ("b", 1), ("bb", 1)]),
        # The last node's children run to the end of child_transitions.
        ([0, 1, 2], [1, 2, 2], [("a", 1), ("ab", 0), ("abb", 1)]),
    ],
)
def test_child_ranges(shifts, transitions, expected):
    trie = ModelTrie(
        node_shifts=shifts,
        child_labels=[0, ord("a"), ord("b")],
        child_transitions=transitions,
        payloads=[None] * 3,
        is_terminal=[False, True, True],
    )
    assert match_texts(restored(trie), "ab", 1) == expected


# ---------------------------------------------------------- bound and size


@pytest.mark.parametrize("max_dist", [65535, 65536, 65537, 131072, U32_MAX])
def test_large_max_dist_means_65535(max_dist):
    index = terms("a", "bb")
    # "a" * 65536 is 65535 edits from "a" and 65536 from "bb".
    assert match_texts(index, "a" * 65536, max_dist) == [("a", 65535)]
    assert match_texts(index, "a" * 65537, max_dist) == []


def test_small_max_dist_is_not_reduced():
    assert match_texts(terms("xyz"), "", 3) == [("xyz", 3)]


@pytest.mark.parametrize("length", [65536, 65537, 131072, 131073, 200000])
def test_distances_of_long_terms_are_exact(length):
    # A narrow cell would wrap at 65536 and report one of these as a near match.
    index = terms("a", "b")
    assert match_texts(index, "a" * length, U32_MAX) == (
        [("a", length - 1)] if length - 1 <= 65535 else []
    )
    assert match_texts(index, "a" * (length - 1) + "b", U32_MAX) == (
        [("a", length - 1), ("b", length - 1)] if length - 1 <= 65535 else []
    )


def test_megabyte_term_with_largest_max_dist():
    index = built([(word, (1, [0], [1])) for word in ["apple", "apply", "banana"]], [UUID_0_TO_15])
    term = "a" * (1 << 20)
    assert index.fuzzy_match(term, U32_MAX) == []
    assert index.fuzzy_match_video(term, U32_MAX, None, True, 0.0) == []


def test_megabyte_term_that_matches():
    index = terms("xy")
    term = "x" + "y" * 1_000_000
    assert index.fuzzy_match(term, 1) == []
    assert index.fuzzy_match("x" * 65000 + "y", U32_MAX) == [("xy", 1, 64999)]


# ------------------------------------------------------------- deep tries


def run_in_small_stack_thread(call):
    results = []
    previous = threading.stack_size(512 * 1024)
    try:
        thread = threading.Thread(target=lambda: results.append(outcome(call)))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    return results[0]


@pytest.mark.parametrize("in_thread", [False, True])
def test_deep_chain_does_not_exhaust_the_stack(in_thread):
    trie = chain(100_000)
    trie.is_terminal = [depth in (65536, 65537) for depth in range(len(trie.is_terminal))]
    index = restored(trie)

    def query():
        return index.fuzzy_match("a", U32_MAX)

    result = run_in_small_stack_thread(query) if in_thread else outcome(query)
    assert result == ("ok", [("a" * 65536, 1, 65535)])


@pytest.mark.parametrize("in_thread", [False, True])
def test_deep_chain_video_query_in_small_stack(in_thread):
    trie = chain(70_000)
    trie.payloads = [(1, [0], [1])] * len(trie.payloads)
    trie.video_int_ids = [42]
    trie.id_mode = INT32
    index = restored(trie)

    def query():
        return index.fuzzy_match_video("a" * 3, U32_MAX, None, True, 0.0)

    result = run_in_small_stack_thread(query) if in_thread else outcome(query)
    assert result == ("ok", [("42", 1.0)])


@pytest.mark.parametrize("in_thread", [False, True])
def test_self_loop_is_followed_to_the_bound(in_thread):
    # Node 1 ("a") is its own first child; node 2 ("b") its second. Depth
    # first, the first "b" reported is the deepest one the bound allows.
    trie = ModelTrie(
        node_shifts=[0, 1, 3],
        child_labels=[0, ord("a"), ord("b")],
        child_transitions=[1, 1, 2],
        payloads=[None] * 3,
        is_terminal=[False, False, True],
    )
    index = restored(trie)

    def query():
        return index.fuzzy_match("b", U32_MAX, 1)

    result = run_in_small_stack_thread(query) if in_thread else outcome(query)
    assert result == ("ok", [("a" * 65535 + "b", 1, 65535)])


# -------------------------------------------------------- empty and damaged


@pytest.mark.parametrize(
    "index_of",
    [
        lambda: PrefixSearch.from_internal_data_v2([], [], [], [], [], 5),
        lambda: restored(ModelTrie()),
        lambda: restored(ModelTrie(child_labels=[0], is_terminal=[True], payloads=[(1, [0], [1])])),
    ],
    ids=["built", "restored", "no-node-shifts"],
)
@pytest.mark.parametrize(
    "method, args",
    [
        ("fuzzy_match", ("",)),
        ("fuzzy_match", ("abc", U32_MAX)),
        ("fuzzy_match_video", ("abc",)),
        ("fuzzy_match_video", ("", 3, None, True, -math.inf)),
    ],
)
def test_index_without_nodes_answers_empty(index_of, method, args):
    assert getattr(index_of(), method)(*args) == []


# Node 1 ("a") is twice its own child: 2**depth paths down to each depth.
DOUBLED_SELF_LOOP = bytes.fromhex("02000102006103010101020100000001000000000000020000")
BUDGET_SPENT = (
    "the walk used up its budget of 1000320 visits: the child lists reach some node by more "
    "than one path"
)


@pytest.mark.parametrize("method", ["fuzzy_match", "fuzzy_match_video"])
@pytest.mark.parametrize("term, max_dist", [("a" * 30, 0), ("a" * 40, 0), ("a" * 70, 9)])
def test_paths_that_multiply_spend_the_walk_budget(method, term, max_dist):
    index = PrefixSearch.from_bytes(DOUBLED_SELF_LOOP)
    assert outcome(lambda: getattr(index, method)(term, max_dist)) == ("panic", BUDGET_SPENT)
    assert index.to_bytes() == DOUBLED_SELF_LOOP
    # Within the budget the walk answers in full, once per path.
    trie = model_image.decode(DOUBLED_SELF_LOOP)
    trie.is_terminal = [False, True]
    assert match_texts(restored(trie), "aaaa", 0) == [("aaaa", 0)] * 8


def doubled_self_loop_with_videos(videos: int) -> ModelTrie:
    """DOUBLED_SELF_LOOP where node 1 lists `videos` videos: each of the
    2**depth paths to a depth adds them all to the ranking."""
    trie = model_image.decode(DOUBLED_SELF_LOOP)
    trie.payloads = [None, (videos, list(range(videos)), [1 + k % 3 for k in range(videos)])]
    trie.id_mode = INT32
    trie.video_int_ids = list(range(1000, 1000 + videos))
    return trie


RANKING_SPENT = (
    "the ranking used up its budget of 1480896 payload entries: the child lists reach some node "
    "by more than one path"
)


def test_payloads_added_once_per_path_spend_the_ranking_budget():
    # 2**16 paths of 2000 videos each: a hundred million adds, where the
    # budget counts 64 per entry of the child lists and payload bytes.
    trie = doubled_self_loop_with_videos(2000)
    image = model_image.encode(trie)
    index = PrefixSearch.from_bytes(image)
    trie.is_terminal = [False, True]
    expected = model_match.fuzzy_match_video(trie, "a" * 8, 0, 10, None, 0.0)
    assert len(expected) == 10
    for _ in range(2):
        # The model adds the 2**8 equal shares in another order.
        assert index.fuzzy_match_video("a" * 8, 0, 10, None, 0.0) == [
            (video, pytest.approx(score, rel=1e-12)) for video, score in expected
        ]
        for depth in (16, 19):
            outcome_of = outcome(lambda: index.fuzzy_match_video("a" * depth, 0))
            assert outcome_of == ("panic", RANKING_SPENT)
    assert index.to_bytes() == image


def test_payload_with_more_ids_than_counts_panics_and_index_stays_usable():
    trie = word_trie([("ab", (4, [0, 1, 2], [1, 2]))], id_mode=INT32, video_int_ids=[1, 2, 3])
    index = restored(trie)
    message = "index out of bounds: the len is 2 but the index is 2"
    assert outcome(lambda: index.fuzzy_match_video("ab")) == ("panic", message)
    assert index.fuzzy_match("ab") == [("ab", 1, 0)]
    assert outcome(lambda: index.fuzzy_match_video("ab")) == ("panic", message)


@pytest.mark.parametrize(
    "change, message",
    [
        (dict(child_transitions=[1, 9]), "the len is 3 but the index is 9"),
        (dict(node_shifts=[0, 1, 7]), "the len is 2 but the index is 2"),
        (dict(child_labels=[0, ord("a")]), "the len is 2 but the index is 2"),
        (dict(is_terminal=[False, False]), "the len is 2 but the index is 2"),
        (dict(node_shifts=[0, 1]), "the len is 2 but the index is 2"),
    ],
)
def test_damaged_index_panics_with_the_failing_read(change, message):
    trie = word_trie([("a", (1, [], [])), ("ab", (1, [], []))])
    for field, value in change.items():
        setattr(trie, field, value)
    index = restored(trie)
    expected = ("panic", "index out of bounds: " + message)
    assert outcome(lambda: index.fuzzy_match("ab", 1)) == expected
    assert model_outcome(lambda: model_match.fuzzy_match(trie, "ab", 1)) == expected
    assert outcome(lambda: index.fuzzy_match("ab", 1)) == expected


# ---------------------------------------------------------- video ranking


def test_worked_ranking_example():
    index = built(
        [("cat", (10, [0, 1], [6, 4])), ("car", (5, [1], [5]))],
        uuid_video_index([b"A" * 16, b"B" * 16]),
    )
    w = (1.0 - 1 / 3) * 0.05
    total = 0.0 + 1.0 * 10
    total = total + w * 5
    a = (0.0 + 1.0 * 6) / total
    b = (0.0 + 1.0 * 4 + w * 5) / total
    assert index.fuzzy_match_video("cat", 1) == [
        ("41414141-4141-4141-4141-414141414141", a),
        ("42424242-4242-4242-4242-424242424242", b),
    ]
    assert a == pytest.approx(0.590, abs=1e-3) and b == pytest.approx(0.410, abs=1e-3)


@pytest.mark.parametrize(
    "min_score, expected",
    [(None, ["A", "B"]), (0.2, ["A"]), (0.1, ["A", "B"]), (0.5, ["A"]), (0.51, [])],
)
def test_min_score_is_inclusive(min_score, expected):
    index = built([("x", (10, [0, 1], [5, 1]))], int_video_index([65, 66]))
    result = index.fuzzy_match_video("x", 0, None, None, min_score)
    names = {"65": "A", "66": "B"}
    assert [names[video] for video, _score in result] == expected
    assert [score for _video, score in result] == [0.5, 0.1][: len(expected)]


@pytest.mark.parametrize(
    "min_score, count", [(math.nan, 0), (-math.inf, 2), (math.inf, 0), (0, 2), (-1, 2)]
)
def test_special_min_scores(min_score, count):
    index = built([("x", (10, [0, 1], [5, 0]))], int_video_index([1, 2]))
    assert len(index.fuzzy_match_video("x", 0, None, None, min_score)) == count


def test_prefix_nodes_used_only_when_no_terminal_matches():
    trie = word_trie([("harry", (10, [3], [10]))], INT32, video_int_ids=[5, 6, 7, 8])
    # Prefix nodes without payloads add nothing.
    assert restored(trie).fuzzy_match_video("ha", 1) == []
    # h, ha and har each get a video of their own.
    trie.payloads[1:4] = [(10, [0], [10]), (10, [1], [10]), (10, [2], [10])]
    index = restored(trie)
    # No terminal node is within 1 of "ha"; the second walk finds h (distance
    # 1), ha (0) and har (1), all prefix nodes.
    near = (1.0 - 1 / 2) * 0.05 * 0.85
    exact = 1.0 * 0.85
    total = 0.0 + near * 10
    total = total + exact * 10
    total = total + near * 10
    expected = [("6", exact * 10 / total), ("5", near * 10 / total), ("7", near * 10 / total)]
    assert near == pytest.approx(0.025 * 0.85)
    assert index.fuzzy_match_video("ha", 1) == expected
    assert index.fuzzy_match_video("ha", 1, None, True) == expected
    assert index.fuzzy_match_video("ha", 1, None, False) == []


def test_terminal_match_shuts_out_prefix_nodes():
    # "abc" is terminal and within 1 of "ab"; prefix node "ab" would add video 1.
    trie = word_trie([("abc", (4, [0], [4]))], INT32, video_int_ids=[10, 11])
    trie.payloads[2] = (100, [1], [100])
    index = restored(trie)
    assert index.fuzzy_match_video("ab", 1) == [("10", 1.0)]
    with_prefixes = index.fuzzy_match_video("ab", 1, None, True, 0.0)
    assert [video for video, _ in with_prefixes] == ["11", "10"]


@pytest.mark.parametrize(
    "term, max_dist, expected",
    [
        ("ab", 2, []),  # distance 2 over 2 characters weighs nothing
        ("", 1, []),  # an empty term weighs every hit 0
        ("abcde", 1, [("1", 1.0)]),
    ],
)
def test_zero_weights_are_skipped(term, max_dist, expected):
    index = built([("xy", (3, [0], [3])), ("abcdx", (3, [0], [3]))], int_video_index([1]))
    assert index.fuzzy_match_video(term, max_dist, None, False) == expected


@pytest.mark.parametrize("term", ["a", "q"])
def test_weightless_whole_terms_leave_the_prefix_nodes_open(term):
    # Every one-letter term is one edit from "a"; none of them shares a letter
    # with it, so the prefix nodes below "a" answer as they do at max_dist 0.
    index = kelnor.build([("b", 1, 5), ("c", 2, 5), ("xy", 2, 5), ("abc", 3, 7), ("qrs", 4, 2)])
    assert index.fuzzy_match_video(term, 0) != []
    assert index.fuzzy_match_video(term, 1) == index.fuzzy_match_video(term, 1, None, True)
    assert index.fuzzy_match_video(term, 1, None, False) == []


@pytest.mark.parametrize("terminal", [True, False])
def test_fuzzy_weight_and_prefix_factor(terminal):
    # One hit at distance 1 of a 5-character term, alone: its weight cancels
    # out of the score, so compare the weight through a second, exact hit.
    trie = word_trie(
        [("abcde", (1, [0], [1])), ("abcdx", (1, [1], [1]))], INT32, video_int_ids=[7, 8]
    )
    trie.is_terminal[-1] = terminal
    w = (1.0 - 1 / 5) * 0.05 * (1.0 if terminal else 0.85)
    total = 0.0 + 1.0 * 1
    total = total + w * 1
    expected = [("7", (0.0 + 1.0) / total), ("8", (0.0 + w * 1) / total)]
    assert restored(trie).fuzzy_match_video("abcde", 1, None, True, 0.0) == expected
    assert w == pytest.approx(0.04 if terminal else 0.034)


def test_zero_total_counts_give_nothing():
    index = restored(word_trie([("a", (0, [0], [5]))], INT32, video_int_ids=[1]))
    assert index.fuzzy_match_video("a", 0, None, None, -math.inf) == []


@pytest.mark.parametrize("limit, count", [(None, 4), (0, 0), (1, 1), (3, 3), (4, 4), (10, 4)])
def test_limit_cuts_sorted_candidates(limit, count):
    index = built([("a", (100, [0, 1, 2, 3], [40, 30, 20, 10]))], int_video_index([9, 8, 7, 6]))
    result = index.fuzzy_match_video("a", 0, limit)
    assert result == [("9", 0.4), ("8", 0.3), ("7", 0.2), ("6", 0.1)][:count]


def test_positions_outside_the_table_drop_out_after_the_cut():
    trie = word_trie([("a", (10, [5, 0, 1], [6, 3, 1]))], INT32, video_int_ids=[70, 71])
    index = restored(trie)
    assert index.fuzzy_match_video("a", 0) == [("70", 0.3), ("71", 0.1)]
    assert index.fuzzy_match_video("a", 0, 2) == [("70", 0.3)]


def test_repeated_video_in_one_payload_counts_twice():
    trie = word_trie([("a", (10, [0, 0], [2, 3]))], INT32, video_int_ids=[1])
    assert restored(trie).fuzzy_match_video("a", 0) == [("1", 0.5)]


@pytest.mark.parametrize(
    "id_mode, table, expected",
    [
        (INT32, [U32_MAX], "4294967295"),
        (INT32, [0], "0"),
        (UUID, [UUID_0_TO_15], UUID_0_TO_15_TEXT),
        (UUID, [bytes([0xFF] * 16)], "ffffffff-ffff-ffff-ffff-ffffffffffff"),
    ],
)
def test_id_texts(id_mode, table, expected):
    tables = dict(video_int_ids=table) if id_mode == INT32 else dict(video_uuids=table)
    trie = word_trie([("a", (1, [0], [1]))], id_mode, **tables)
    assert restored(trie).fuzzy_match_video("a", 0) == [(expected, 1.0)]


def test_equal_scores_by_ascending_position_on_every_call():
    positions = list(range(40))
    random.Random(4).shuffle(positions)
    payload = (40, positions, [1] * 40)
    index = built([("a", payload)], int_video_index(range(1000, 1040)), video_top_n=40)
    expected = [(str(1000 + k), 1 / 40) for k in range(40)]
    for _ in range(5):
        assert index.fuzzy_match_video("a", 0) == expected
        assert index.fuzzy_match_video("a", 0, 7) == expected[:7]


# ------------------------------------------------------------ bindings


@pytest.fixture(scope="module")
def small():
    return built(
        [("abc", (4, [0], [4])), ("abd", (2, [1], [2])), ("xyz", (1, [1], [1]))],
        int_video_index([100, 200]),
    )


def test_defaults(small):
    assert small.fuzzy_match("abc") == small.fuzzy_match("abc", 1, None)
    assert small.fuzzy_match_video("abc") == small.fuzzy_match_video("abc", 1, None, None, None)
    assert small.fuzzy_match("abx") != small.fuzzy_match("abx", 0)


def test_keywords(small):
    assert small.fuzzy_match("abc", limit=1, max_dist=1) == small.fuzzy_match("abc", 1, 1)
    assert small.fuzzy_match_video(
        "ab", min_score=0.0, include_prefix_nodes=True
    ) == small.fuzzy_match_video("ab", 1, None, True, 0.0)
    assert small.fuzzy_match(term="abc") == small.fuzzy_match("abc")
    assert small.fuzzy_match_video(term="ab") == small.fuzzy_match_video("ab")


class Text(str):
    pass


@pytest.mark.parametrize(
    "method, args, same_as",
    [
        ("fuzzy_match", ("abc", True), ("abc", 1)),
        ("fuzzy_match", ("abc", False), ("abc", 0)),
        ("fuzzy_match", ("abc", Index(2)), ("abc", 2)),
        ("fuzzy_match", ("abc", U32_MAX, Index(1)), ("abc", 65535, 1)),
        ("fuzzy_match", (Text("abc"),), ("abc",)),
        ("fuzzy_match", ("abc", 1, None), ("abc",)),
        ("fuzzy_match_video", ("ab", 1, None, None, 1), ("ab", 1, None, None, 1.0)),
        ("fuzzy_match_video", ("ab", 1, None, True, Real(0.25)), ("ab", 1, None, True, 0.25)),
        ("fuzzy_match_video", ("ab", 1, True), ("ab", 1, 1)),
    ],
)
def test_accepted_arguments(small, method, args, same_as):
    assert getattr(small, method)(*args) == getattr(small, method)(*same_as)


def fake_numpy_bool(name: str, **namespace):
    return type(name, (), dict(namespace, __module__="numpy"))


TRUE_BOOL_ = fake_numpy_bool("bool_", __bool__=lambda self: True)
FALSE_BOOL = fake_numpy_bool("bool", __bool__=lambda self: False)
BOOL_WITHOUT_BOOL = fake_numpy_bool("bool_")
BOOL_GIVING_INT = fake_numpy_bool("bool_", __bool__=lambda self: 1)
NOT_NUMPY = type("bool_", (), {"__module__": "numpy2", "__bool__": lambda self: True})


@pytest.mark.parametrize(
    "flag, same_as", [(True, True), (False, False), (TRUE_BOOL_(), True), (FALSE_BOOL(), False)]
)
def test_include_prefix_nodes_flags(small, flag, same_as):
    assert small.fuzzy_match_video("ab", 1, None, flag, 0.0) == small.fuzzy_match_video(
        "ab", 1, None, same_as, 0.0
    )


def test_false_flag_is_not_absent(small):
    # Absent: no terminal within 0 of "ab", so prefix nodes are used; False: none.
    assert small.fuzzy_match_video("ab", 0) != []
    assert small.fuzzy_match_video("ab", 0, None, False) == []


def test_real_numpy_bools(small):
    numpy = pytest.importorskip("numpy")
    for flag in (True, False):
        assert small.fuzzy_match_video("ab", 1, None, numpy.bool_(flag)) == (
            small.fuzzy_match_video("ab", 1, None, flag)
        )


@pytest.mark.parametrize(
    "method, args, kwargs, error, message",
    [
        ("fuzzy_match", (5, -1), {}, TypeError,
         "argument 'term': 'int' object cannot be converted to 'PyString'"),
        ("fuzzy_match", (b"abc",), {}, TypeError,
         "argument 'term': 'bytes' object cannot be converted to 'PyString'"),
        ("fuzzy_match", (None,), {}, TypeError,
         "argument 'term': 'NoneType' object cannot be converted to 'PyString'"),
        ("fuzzy_match", ("abc", None), {}, TypeError, "argument 'max_dist': "),
        ("fuzzy_match", ("abc", 1.0), {}, TypeError, "argument 'max_dist': "),
        ("fuzzy_match", ("abc", "1"), {}, TypeError, "argument 'max_dist': "),
        ("fuzzy_match", ("abc", 2**32), {}, OverflowError,
         "out of range integral type conversion attempted"),
        ("fuzzy_match", ("abc", 2**64 - 1), {}, OverflowError,
         "out of range integral type conversion attempted"),
        ("fuzzy_match", ("abc", 1, 2**32), {}, OverflowError,
         "out of range integral type conversion attempted"),
        ("fuzzy_match", ("abc", 1, 1.5), {}, TypeError, "argument 'limit': "),
        ("fuzzy_match", ("abc", None, "x"), {}, TypeError, "argument 'max_dist': "),
        ("fuzzy_match", ("abc", -1, "x"), {}, OverflowError, ""),
        ("fuzzy_match_video", ("a",), dict(include_prefix_nodes=1), TypeError,
         "argument 'include_prefix_nodes': 'int' object cannot be converted to 'PyBool'"),
        ("fuzzy_match_video", ("a",), dict(include_prefix_nodes="yes"), TypeError,
         "argument 'include_prefix_nodes': 'str' object cannot be converted to 'PyBool'"),
        ("fuzzy_match_video", ("a",), dict(include_prefix_nodes=NOT_NUMPY()), TypeError,
         "argument 'include_prefix_nodes': 'bool_' object cannot be converted to 'PyBool'"),
        ("fuzzy_match_video", ("a",), dict(include_prefix_nodes=BOOL_WITHOUT_BOOL()), TypeError,
         "argument 'include_prefix_nodes': object of type '<class 'numpy.bool_'>' "
         "does not define a '__bool__' conversion"),
        ("fuzzy_match_video", ("a",), dict(include_prefix_nodes=BOOL_GIVING_INT()), TypeError,
         "argument 'include_prefix_nodes': 'int' object cannot be converted to 'PyBool'"),
        ("fuzzy_match_video", ("a",), dict(min_score="0.5"), TypeError,
         "argument 'min_score': "),
        ("fuzzy_match_video", ("a",), dict(min_score=[]), TypeError, "argument 'min_score': "),
        ("fuzzy_match_video", ("a", 1, "x"), dict(min_score="y"), TypeError,
         "argument 'limit': "),
        ("fuzzy_match_video", ("a", 1, None, 1), dict(min_score="y"), TypeError,
         "argument 'include_prefix_nodes': "),
    ],
)
def test_argument_errors(small, method, args, kwargs, error, message):
    with pytest.raises(error) as raised:
        getattr(small, method)(*args, **kwargs)
    assert type(raised.value) is error
    assert str(raised.value).startswith(message)
    if error is OverflowError:
        assert not str(raised.value).startswith("argument")


@pytest.mark.parametrize("value", [-1, 2**64, -(2**70)])
@pytest.mark.parametrize("position", [1, 2])
def test_interpreter_overflow_errors_pass_unchanged(small, value, position):
    args = ["abc", 1, None]
    args[position] = value
    with pytest.raises(OverflowError) as raised:
        small.fuzzy_match(*args)
    assert not str(raised.value).startswith("argument")


def test_lone_surrogate_term(small):
    with pytest.raises(UnicodeEncodeError):
        small.fuzzy_match("a\ud800")
    with pytest.raises(UnicodeEncodeError):
        small.fuzzy_match_video("a\ud800")


def test_accepted_extremes(small):
    assert small.fuzzy_match("abc", U32_MAX, U32_MAX) == small.fuzzy_match("abc", 65535)
    assert small.fuzzy_match("abc", 0, 0) == []


def test_no_match_gives_a_new_empty_list_each_time(small):
    first = small.fuzzy_match("qqqq", 0)
    second = small.fuzzy_match("qqqq", 0)
    assert first == [] and second == [] and first is not second
    assert small.fuzzy_match_video("qqqq", 0) == []


def test_result_types(small):
    for text, flag, distance in small.fuzzy_match("abc", 2):
        assert type(text) is str and type(flag) is int and type(distance) is int
    for video, score in small.fuzzy_match_video("abc", 2):
        assert type(video) is str and type(score) is float


# ----------------------------------------------- differential: generated


LABELS = [ord(char) for char in "abéß中😀"]
QUERY_ALPHABET = "abéß中😀x"


# Made once for each kind and size of video table: hypothesis works out afresh
# whether each new strategy object can draw anything, which costs more than a draw.
@lru_cache(maxsize=None)
def optional_payloads(damaged: bool, video_count: int) -> st.SearchStrategy:
    return st.none() | payloads(damaged, video_count)


@st.composite
def payloads(draw, damaged: bool, video_count: int):
    count = st.one_of(st.integers(0, 20), st.just(U32_MAX))
    ids = draw(st.lists(st.integers(0, video_count + 1), max_size=4))
    counts = draw(st.lists(count, min_size=len(ids), max_size=len(ids)))
    if damaged and draw(st.booleans()):
        counts = counts[: draw(st.integers(0, len(counts)))]
    return (draw(count), ids, counts)


@st.composite
def model_tries(draw, damaged: bool = False):
    """Small tries with cycles, shared and duplicate children, labels 0,
    non-ASCII labels, absent payloads and video positions beyond the table;
    when `damaged`, also arrays too short for the positions they are read at."""
    nodes = draw(st.integers(1, 8))
    edges = draw(st.integers(0, 10))
    slack = 2 if damaged else 0

    def per_node(element):
        length = draw(st.integers(0, nodes + 1)) if damaged and draw(st.booleans()) else nodes
        return draw(st.lists(element, min_size=length, max_size=length))

    id_mode = draw(st.sampled_from([UUID, INT32]))
    video_count = draw(st.integers(0, 4))
    table = dict(
        video_uuids=[draw(st.binary(min_size=16, max_size=16)) for _ in range(video_count)]
        if id_mode == UUID
        else [],
        video_int_ids=[draw(st.integers(0, U32_MAX)) for _ in range(video_count)]
        if id_mode == INT32
        else [],
    )
    return ModelTrie(
        node_shifts=per_node(st.integers(0, edges + slack)),
        child_labels=per_node(st.sampled_from(LABELS + [0])),
        child_transitions=draw(
            st.lists(st.integers(0, nodes - 1 + slack), min_size=edges, max_size=edges)
        ),
        payloads=per_node(optional_payloads(damaged, video_count)),
        id_mode=id_mode,
        is_terminal=per_node(st.booleans()),
        **table,
    )


queries = st.text(alphabet=QUERY_ALPHABET, max_size=5)
limits = st.sampled_from([None, 0, 1, 2, 5])
min_scores = st.sampled_from([None, 0.0, 0.01, 0.2, 1.0, -math.inf, math.nan])


def assert_same_as_model(trie, index, term, max_dist, limit, include_prefix_nodes, min_score):
    pairs = [
        (
            lambda: index.fuzzy_match(term, max_dist, limit),
            lambda: model_match.fuzzy_match(trie, term, max_dist, limit),
        ),
        (
            lambda: index.fuzzy_match_video(term, max_dist, limit, include_prefix_nodes, min_score),
            lambda: model_match.fuzzy_match_video(
                trie, term, max_dist, limit, include_prefix_nodes, min_score
            ),
        ),
    ]
    for actual, expected in pairs:
        result = outcome(actual)
        assert result == model_outcome(expected)
        # After a failure the index answers the same way again.
        assert outcome(actual) == result


differential = settings(
    max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)


@differential
@given(
    model_tries(),
    queries,
    st.integers(0, 3),
    limits,
    st.sampled_from([None, True, False]),
    min_scores,
)
def test_generated_tries_match_the_model(trie, term, max_dist, limit, include, min_score):
    index = restored(trie)
    assert model_outcome(lambda: model_match.fuzzy_match(trie, term, max_dist))[0] == "ok"
    assert_same_as_model(trie, index, term, max_dist, limit, include, min_score)


@differential
@given(
    model_tries(damaged=True),
    queries,
    st.integers(0, 3),
    limits,
    st.sampled_from([None, True, False]),
    min_scores,
)
def test_damaged_tries_match_the_model(trie, term, max_dist, limit, include, min_score):
    assert_same_as_model(trie, restored(trie), term, max_dist, limit, include, min_score)


@settings(max_examples=50, deadline=None)
@given(st.lists(st.text(alphabet="ab", min_size=1, max_size=6), max_size=8), queries)
def test_large_bounds_on_acyclic_tries_match_the_model(words, term):
    trie = word_trie([(word, (1, [0], [1])) for word in words], INT32, video_int_ids=[3])
    index = restored(trie)
    for max_dist in (65535, 65536, U32_MAX):
        assert index.fuzzy_match(term, max_dist) == model_match.fuzzy_match(trie, term, 65535)


# ----------------------------------------------- differential: word lists


@pytest.mark.parametrize("max_dist", [0, 1, 2, 3])
def test_word_lists_match_the_model(word_index, max_dist):  # noqa: F811
    trie, index, words = word_index
    rng = random.Random(max_dist)
    options = [
        (limit, include, min_score)
        for limit in (None, 0, 1, 3, 20)
        for include in (None, True, False)
        for min_score in (None, 0.0, 0.05)
    ]
    queries = [misspelt(word, rng) for word in rng.sample(words, 25)]
    queries += [word[: rng.randint(1, len(word))] for word in rng.sample(words, 10)]
    queries += ["", "zzzzqq"]
    for query in queries:
        limit, include, min_score = rng.choice(options)
        assert index.fuzzy_match(query, max_dist, limit) == model_match.fuzzy_match(
            trie, query, max_dist, limit
        )
        assert index.fuzzy_match_video(
            query, max_dist, limit, include, min_score
        ) == model_match.fuzzy_match_video(trie, query, max_dist, limit, include, min_score)


def test_built_word_index_matches_the_model():
    path = WORD_LISTS["english"]
    words = read_words(path, 1500, seed=2)
    rng = random.Random(2)
    entries = [(word, (rng.randint(1, 9), [rng.randrange(30)], [rng.randint(1, 9)])) for word in words]
    data = internal_data(entries, video_index=int_video_index(range(30)), video_top_n=3)
    index = PrefixSearch.from_internal_data_v2(*data.args())
    trie = model_build.build(*data.args())
    for word in rng.sample(words, 30):
        query = misspelt(word, rng)
        for include in (None, True):
            assert index.fuzzy_match_video(query, 2, 10, include) == (
                model_match.fuzzy_match_video(trie, query, 2, 10, include)
            )
        assert index.fuzzy_match(query, 2) == model_match.fuzzy_match(trie, query, 2)
