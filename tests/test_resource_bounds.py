"""How much memory and time a query may take.

A query keeps one row of at most (term length + 1) distance cells per depth of
the path it explores; the path is never deeper than the trie (nor, in a trie
with cycles, deeper than term length + bound + 1), so its memory stays within
(depth + 2) x (term length + 1) cells however large max_dist is. These checks
run in a child process whose address space is capped, so that an
implementation that sizes its table from max_dist fails with MemoryError
instead of taking the machine's memory, and whose peak resident size is read
after the query.

A trie with cycles (which the build accepts) is walked around its cycles as
deep as the bound allows; with max_dist up to 2 that stays quick.
"""

from __future__ import annotations

import ast
import os
import subprocess
import sys
import textwrap
from typing import List

import pytest

import model_build
import model_image
import model_match
from host_data import InternalData, int_video_index, internal_data
from memory_figures import RESIDENT_SIZE_IS_MEANINGFUL
from model_trie import ModelTrie

pytestmark = pytest.mark.skipif(
    not sys.platform.startswith("linux"), reason="needs /proc and an address-space limit"
)

U32_MAX = 2**32 - 1
CELL_BYTES = 4  # distance cells take at most 32 bits
ADDRESS_SPACE_HEADROOM = 512 * 2**20
SLACK_BYTES = 24 * 2**20  # the interpreter's own allocations around the query

# Run in the child: caps the address space a little above what the
# interpreter holds, builds the index from the arrays given, evaluates each
# query (a call of a method of `index`, as source text) and prints, per query,
# its result and the growth of the peak resident size over the resident size
# just before it.
CHILD = textwrap.dedent("""
    import ast, resource, sys
    from _kelnor import PrefixSearch

    def status(field):
        with open("/proc/self/status") as lines:
            return next(int(l.split()[1]) * 1024 for l in lines if l.startswith(field + ":"))

    def reset_peak():
        with open("/proc/self/clear_refs", "w") as clear_refs:
            clear_refs.write("5")

    arrays, queries, headroom = ast.literal_eval(sys.stdin.read())
    index = PrefixSearch.from_internal_data_v2(*arrays)
    limit = status("VmSize") + headroom
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    for query in queries:
        call = compile("index." + query, "<query>", "eval")
        reset_peak()
        before = status("VmRSS")
        result = eval(call)
        print(repr((result, status("VmHWM") - before)), flush=True)
    """)


def run_queries(data: InternalData, queries: List[str], timeout: float = 300) -> List[tuple]:
    """(result, peak growth in bytes) of each query, run in a capped child."""
    completed = subprocess.run(
        [sys.executable, "-c", CHILD],
        input=repr((data.args(), queries, ADDRESS_SPACE_HEADROOM)),
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert completed.returncode == 0, completed.stderr
    return [ast.literal_eval(line) for line in completed.stdout.splitlines()]


def table_bytes(depth: int, term_length: int) -> int:
    return (depth + 2) * (term_length + 1) * CELL_BYTES


def assert_within(growth: int, depth: int, term_length: int) -> None:
    """A query's peak growth: its table, the decoded term, and some slack."""
    if RESIDENT_SIZE_IS_MEANINGFUL:
        assert growth <= table_bytes(depth, term_length) + term_length * 4 + SLACK_BYTES


SMALL_TRIE = internal_data(
    [(word, (1, [0], [1])) for word in ["apple", "apply", "banana", "xy"]],
    int_video_index([42]),
)
SMALL_TRIE_DEPTH = 6
MEGABYTE = 2**20


def test_megabyte_terms_with_the_largest_max_dist_stay_within_the_bound():
    megabyte_term = "'a' * 2**20"
    queries = {
        f"fuzzy_match({megabyte_term}, 4294967295)": [],
        f"fuzzy_match_video({megabyte_term}, 4294967295, None, True, 0.0)": [],
        # No terminal node is near: two walks.
        f"fuzzy_match_video({megabyte_term}, 4294967295)": [],
        "fuzzy_match('x' * 65535 + 'y', 4294967295)": [("apply", 1, 65535), ("xy", 1, 65534)],
        "fuzzy_match('x' * 65537, 4294967295)": [],
    }
    results = run_queries(SMALL_TRIE, list(queries))
    assert [result for result, _growth in results] == list(queries.values())
    for (_result, growth), length in zip(results, [MEGABYTE] * 3 + [65536, 65537]):
        assert_within(growth, SMALL_TRIE_DEPTH, length)


def self_loop(label: str = "a") -> InternalData:
    """Root, then one node labelled `label` that is its own only child."""
    return InternalData(
        node_shifts=[0, 1],
        child_labels=["", label],
        payloads=[None, (1, [0], [1])],
        child_transitions=[1, 1],
        video_index=int_video_index([5]),
        video_top_n=3,
    )


@pytest.mark.parametrize("max_dist", [0, 1, 2])
def test_a_cycle_is_followed_no_deeper_than_term_length_and_bound(max_dist):
    length = 3000
    results = run_queries(
        self_loop(),
        [
            f"fuzzy_match('a' * {length}, {max_dist}, 1)",
            f"fuzzy_match_video('a' * {length}, {max_dist})",
        ],
    )
    (texts, texts_growth), (videos, videos_growth) = results
    # Depth first: the shallowest match is found first.
    assert texts == [("a" * (length - max_dist), 1, max_dist)]
    assert videos == [("5", 1.0)]
    for growth in (texts_growth, videos_growth):
        assert_within(growth, length + max_dist, length)


# ---------------------------------------------------------------- cycles


def words(count: int) -> List[str]:
    """Deterministic words over a small alphabet, so that many share prefixes."""
    state = 12345
    result = []
    for _ in range(count):
        length = 3 + state % 7
        word = ""
        for _ in range(length):
            state = (state * 1103515245 + 12345) % 2**31
            word += "abcdefghijklmnopqrst"[state % 20]
        result.append(word)
    return result


def with_cycles(data: InternalData) -> InternalData:
    """The same trie where every node is also its own child and every leaf
    also leads back to the first node of its word (the build accepts both)."""
    node_count = len(data.child_labels)
    children = []
    for node in range(node_count):
        begin = data.node_shifts[node]
        end = data.node_shifts[node + 1] if node + 1 < node_count else len(data.child_transitions)
        children.append(list(data.child_transitions[begin:end]))
    first_of_word = {}
    for node in range(node_count):
        for child in children[node]:
            first_of_word[child] = child if node == 0 else first_of_word[node]
    for node in range(1, node_count):
        if not children[node]:
            children[node].append(first_of_word[node])
        children[node].append(node)
    shifts, transitions = [], []
    for kids in children:
        shifts.append(len(transitions))
        transitions.extend(kids)
    return InternalData(
        node_shifts=shifts,
        child_labels=data.child_labels,
        payloads=data.payloads,
        child_transitions=transitions,
        video_index=data.video_index,
        video_top_n=data.video_top_n,
    )


def misspellings(word: str) -> List[str]:
    return [word, word[1:], word[:-1] + "x", word[:2] + word[3:], word + word[:3], word * 2]


def test_tries_with_cycles_answer_small_bounds_quickly():
    vocabulary = words(1500)
    entries = [
        (word, (1 + n % 9, [n % 30, (n * 7) % 30], [1 + n % 4, 2]))
        for n, word in enumerate(vocabulary)
    ]
    data = with_cycles(internal_data(entries, int_video_index(range(100, 130)), video_top_n=4))
    terms = [spelling for word in vocabulary[::150] for spelling in misspellings(word)]
    calls = [
        (method, term, max_dist)
        for term in terms
        for max_dist in (0, 1, 2)
        for method in ("fuzzy_match", "fuzzy_match_video")
    ]
    # Generous: the whole batch takes well under a second.
    results = run_queries(data, [f"{m}({t!r}, {d})" for m, t, d in calls], timeout=120)
    trie = model_build.build(*data.args())
    for (method, term, max_dist), (result, _growth) in zip(calls, results):
        assert result == getattr(model_match, method)(trie, term, max_dist), (method, term)


# Run in the child: decodes the image given, with the processor time left to
# it capped at the seconds given.
DECODE_CHILD = textwrap.dedent("""
    import ast, resource, sys
    from _kelnor import PrefixSearch

    image, seconds = ast.literal_eval(sys.stdin.read())
    usage = resource.getrusage(resource.RUSAGE_SELF)
    limit = int(usage.ru_utime + usage.ru_stime) + 1 + seconds
    resource.setrlimit(resource.RLIMIT_CPU, (limit, limit))
    index = PrefixSearch.from_bytes(image)
    print(repr(index.fuzzy_match("ab", 0)))
    """)


def shared_children_image(fanout: int) -> bytes:
    """An image of a few kilobytes in which every even node has the same
    `fanout` children, all even nodes: the levels below a node multiply
    (fanout, fanout^2, ...) while the arrays stay small."""
    node_count = 2 * fanout + 2
    return model_image.encode(ModelTrie(
        node_shifts=[0 if node % 2 == 0 else fanout for node in range(node_count)],
        child_labels=[0] + [97 + node % 26 for node in range(1, node_count)],
        child_transitions=[2 * (k % (node_count // 2)) for k in range(fanout)],
        payloads=[None] * node_count,
        is_terminal=[False] * node_count,
    ))


def test_an_image_whose_nodes_share_their_children_decodes_quickly():
    # What decoding derives for the queries must cost a small multiple of
    # the image, not of the levels below its nodes: milliseconds here, where
    # following three levels below each of the first 130,000 or so nodes
    # takes seconds.
    completed = subprocess.run(
        [sys.executable, "-c", DECODE_CHILD],
        input=repr((shared_children_image(361), 3)),
        capture_output=True,
        text=True,
        timeout=300,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )
    assert completed.returncode == 0, completed.stderr
    assert ast.literal_eval(completed.stdout) == []
