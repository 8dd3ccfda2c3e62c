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
import subprocess
import sys
import textwrap
from typing import Dict, List, Optional

import pytest

import model_build
import model_image
import model_match
from _kelnor import PrefixSearch
from conftest import child_environment, pypy_differs
from host_data import InternalData, int_video_index, internal_data
from memory_figures import RESIDENT_SIZE_IS_MEANINGFUL, under_address_sanitizer
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
# The child scripts' reader of a size in /proc/self/status, in bytes.
STATUS = textwrap.dedent("""
    def status(field):
        with open("/proc/self/status") as lines:
            return next(int(l.split()[1]) * 1024 for l in lines if l.startswith(field + ":"))
    """)

CHILD = STATUS + textwrap.dedent("""
    import ast, resource, sys
    from _kelnor import PrefixSearch

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


def run_child(
    source: str, given: object, timeout: float = 300, environment: Optional[Dict[str, str]] = None
) -> List:
    """Runs `source` in a child interpreter that reads repr(given) from its
    standard input (with `environment` added to this one's); the values it
    printed, one a line. It must exit cleanly."""
    completed = subprocess.run(
        [sys.executable, "-c", source],
        input=repr(given),
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**child_environment(), **(environment or {})},
    )
    assert completed.returncode == 0, completed.stderr
    return [ast.literal_eval(line) for line in completed.stdout.splitlines()]


def run_queries(data: InternalData, queries: List[str], timeout: float = 300) -> List[tuple]:
    """(result, peak growth in bytes) of each query, run in a capped child."""
    return run_child(CHILD, (data.args(), queries, ADDRESS_SPACE_HEADROOM), timeout)


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


# ---------------------------------------------------------- completion search

# Run in the child: restores the image given and prints the outcome of each
# call of a method of `index` (source text), then whether its image is still
# the one given.
OUTCOMES_CHILD = textwrap.dedent("""
    import ast, sys
    from _kelnor import PrefixSearch
    from outcomes import outcome

    image, calls = ast.literal_eval(sys.stdin.read())
    index = PrefixSearch.from_bytes(image)
    for call in calls:
        print(repr(outcome(lambda: eval("index." + call))), flush=True)
    print(repr(index.to_bytes() == image))
    """)


def search_budget_spent(steps: int) -> tuple:
    return (
        "panic",
        f"the completion search used up its budget of {steps} steps: the child lists reach "
        "some node by more than one path, or the paths it ranks run thousands of labels deep",
    )


def self_child_image() -> bytes:
    """Root, then "a" (count 5), its own only child: "a", "aa", ... all terms."""
    return PrefixSearch.from_internal_data_v2(
        [0, 1], ["", "a"], [None, (5, [0], [5])], [1, 1], [bytes(4)], 10
    ).to_bytes()


def mutated_image() -> bytes:
    """The image of 50 words in which one node's first child moves back 25
    places (a single byte of the image): its child list then runs over those of
    the nodes before it, some of them above it, and the completion search
    ranked ever deeper paths round the cycles for minutes."""
    vocabulary = words(50)
    entries = [(word, (1 + n % 9, [n % 5], [1 + n % 9])) for n, word in enumerate(vocabulary)]
    image = PrefixSearch.from_internal_data_v2(
        *internal_data(entries, int_video_index(range(5))).args()
    ).to_bytes()
    trie = model_image.decode(image)
    assert trie.node_shifts[121] == 129
    trie.node_shifts[121] = 104
    mutated = model_image.encode(trie)
    assert len(mutated) == len(image) == 2654
    assert sum(a != b for a, b in zip(image, mutated)) == 1
    return mutated


SELF_CHILD_SPENT = search_budget_spent(64 * 4 + 16_000_000)
MUTATED_SPENT = search_budget_spent(64 * (254 + 253) + 16_000_000)


@pytest.mark.parametrize(
    "image_of, calls",
    [
        (
            self_child_image,
            {
                "suggest('', 0, 3)": SELF_CHILD_SPENT,
                "suggest('a', 0, None)": SELF_CHILD_SPENT,
                "suggest('aaaa', 1, 10, transpositions=True)": SELF_CHILD_SPENT,
                "suggest('a', 0, 1, complete=False)": ("ok", [("a", 0, 5)]),
                "fuzzy_match('aa', 0)": ("ok", [("aa", 1, 0)]),
            },
        ),
        (
            mutated_image,
            {
                "suggest('', 0, 10)": MUTATED_SPENT,
                "suggest('', 0, None)": MUTATED_SPENT,
                "suggest('ab', 1, 10)": (
                    "ok",
                    [
                        ("absd", 0, 8),
                        # A kept first letter makes the slip likelier.
                        ("anodqjo", 1, 7),
                        ("bkd", 1, 9),
                        ("ebkpmfo", 1, 7),
                        ("qbglq", 1, 2),
                        ("bgdqnohqn", 1, 1),
                        ("ibsp", 1, 1),
                    ],
                ),
            },
        ),
    ],
    ids=["self-child", "mutated"],
)
def test_the_completion_search_ends_within_its_budget(image_of, calls):
    # Each call past the budget takes a fraction of a second; the rest answer
    # as before it, and the index is unchanged.
    image = image_of()
    order = list(calls) + list(calls)
    results = run_child(OUTCOMES_CHILD, (image, order), timeout=120)
    assert results == [calls[call] for call in order] + [True]


def doubled_chain_image(depth: int) -> bytes:
    """The terms "a", "aa", ... up to `depth` letters, each node listing its one
    child twice: 2^k paths reach depth k, each a hit as long as the term."""
    shifts, transitions = [], []
    for node in range(depth + 1):
        shifts.append(len(transitions))
        if node < depth:
            transitions += [node + 1, node + 1]
    labels = [""] + ["a"] * depth
    payloads = [None] + [(1, [0], [1])] * depth
    arrays = (shifts, labels, payloads, transitions, int_video_index([5]), 3)
    return PrefixSearch.from_internal_data_v2(*arrays).to_bytes()


def spelling_budget_spent(labels: int) -> tuple:
    return (
        "panic",
        f"the walk used up its budget of {labels} labels spelled: the child lists reach "
        "some node by more than one path",
    )


@pytest.mark.parametrize(
    "depth, call",
    [
        (100, "fuzzy_match('a' * 100, 8)"),
        (100, "suggest('a' * 100, 8, 10, complete=False)"),
        (100, "suggest('a' * 100, 8, 10, complete=True)"),
        (62, "fuzzy_match('a' * 60, 3)"),
        (62, "suggest('a' * 60, 3, 10, complete=False)"),
        (62, "suggest('a' * 60, 3, 10, complete=True)"),
    ],
)
def test_the_texts_of_hits_reached_by_many_paths_are_spelled_within_a_budget(depth, call):
    # Every hit's text is spelled (and costed) as long as the term: the labels
    # spelled, not only the visits, stay within a multiple of the index, past
    # (term length + bound + 1) per entry of the child lists plus 1,000,000.
    term_length, bound = (100, 8) if depth == 100 else (60, 3)
    entries = (depth + 1) + 2 * depth
    labels = entries * (term_length + bound + 1) + 1_000_000
    results = run_child(OUTCOMES_CHILD, (doubled_chain_image(depth), [call]), timeout=120)
    assert results == [spelling_budget_spent(labels), True]


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
    assert run_child(DECODE_CHILD, (shared_children_image(361), 3)) == [[]]


# ---------------------------------------------------------------- out of memory

# Run in the child: builds `index` from `arrays` (source text), then evaluates
# `call` (source text over both) again and again with the address space capped
# ever less tightly above what the interpreter holds, until it fits. Every
# attempt before must fail with MemoryError (never PanicException, nor the end
# of the process); prints how many did and whether the one that fitted answered
# as a free call after it. Large blocks go back to the system as they are freed
# (the child's malloc is told so), so that each attempt needs new memory.
OUT_OF_MEMORY_CHILD = STATUS + textwrap.dedent("""
    import ast, resource, sys
    from _kelnor import PrefixSearch

    arrays, call, step = ast.literal_eval(sys.stdin.read())
    arrays = eval(arrays)
    index = PrefixSearch.from_internal_data_v2(*arrays)
    call = compile(call, "<call>", "eval")
    _, hard = resource.getrlimit(resource.RLIMIT_AS)
    failures, headroom, result = 0, 0, None
    while result is None:
        resource.setrlimit(resource.RLIMIT_AS, (status("VmSize") + headroom, hard))
        try:
            result = eval(call)
        except MemoryError:
            failures += 1
            headroom += step
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
    print(repr((failures, result == eval(call))))
    """)

# A root with 100000 one-letter terms as children, made where it is used.
STAR = (
    "[0] + [100000] * 100000, [''] + [chr(0xE000 + k) for k in range(100000)],"
    " [None] + [(1, [0], [1])] * 100000, range(1, 100001), [bytes(4)], 3"
)


PYPY_OUT_OF_MEMORY = "cpyext ends the process when it runs out of memory making a reference"

# AddressSanitizer's allocator ends the process when the system refuses it
# memory, and its shadow outgrows any fixed cap: the plain builds check these.
refused_memory_is_an_error = pytest.mark.skipif(
    sys.platform.startswith("linux") and under_address_sanitizer(),
    reason="AddressSanitizer ends the process when memory runs out"
)


@refused_memory_is_an_error
@pypy_differs(PYPY_OUT_OF_MEMORY)
@pytest.mark.parametrize(
    "call",
    [
        "PrefixSearch.from_internal_data_v2(*arrays).to_bytes()",
        "index.to_bytes()",
        "index.fuzzy_match('a', 1)",
    ],
    ids=["build", "to_bytes", "query"],
)
def test_running_out_of_memory_raises_memory_error(call):
    [(failures, fitted_right)] = run_child(
        OUT_OF_MEMORY_CHILD, (STAR, call, 2**20), environment={"MALLOC_MMAP_THRESHOLD_": "65536"}
    )
    assert failures > 0
    assert fitted_right


@refused_memory_is_an_error
@pypy_differs(PYPY_OUT_OF_MEMORY)
def test_memory_running_out_while_an_argument_is_read_raises_memory_error():
    # The first exception that the thread throws is thrown with memory gone
    # (half a gigabyte past what the interpreter has mapped, soon filled).
    script = STATUS + textwrap.dedent("""
        import resource
        from _kelnor import PrefixSearch
        limit = status("VmSize") + 5 * 10**8
        resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
        try:
            PrefixSearch.from_internal_data_v2(
                [0, 1], ["", "a"], range(4_000_000_000), [1], [bytes(4)], 3
            )
        except MemoryError:
            print(repr("MemoryError"))
        """)
    assert run_child(script, None) == ["MemoryError"]


# ---------------------------------------------------------------- signals

# Run in the child: reads the arguments (source text), one of them four billion
# items long, which takes seconds and all the memory that the cap leaves, with
# an alarm set to ring after a twentieth of a second; prints what ended it.
# The cap only keeps a read that the alarm fails to end from taking the machine.
ALARM_CHILD = STATUS + textwrap.dedent("""
    import ast, resource, signal, sys
    from _kelnor import PrefixSearch

    class Alarm(Exception):
        pass

    def ring(*_):
        raise Alarm

    arguments = eval(ast.literal_eval(sys.stdin.read()))
    limit = status("VmSize") + 3 * 10**9
    resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    signal.signal(signal.SIGALRM, ring)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    try:
        PrefixSearch.from_internal_data_v2(*arguments)
    except (Alarm, MemoryError) as error:
        print(repr(type(error).__name__))
    """)

HUGE = "range(4_000_000_000)"


@pypy_differs("cpyext's PyErr_CheckSignals leaves the Python signal handlers for later")
@pytest.mark.parametrize(
    "arguments",
    [
        f"{HUGE}, ['', 'a'], [None, None], [1], [], 3",
        f"[0, 1], ['', 'a'], {HUGE}, [1], [], 3",
        f"[0, 1], ['', 'a'], [None, None], {HUGE}, [], 3",
        f"[0, 1], ['', 'a'], [None, (1, {HUGE}, [1])], [1], [], 3",
    ],
    ids=["node_shifts", "payloads", "child_transitions", "payload ids"],
)
def test_an_alarm_interrupts_the_reading_of_a_huge_argument(arguments):
    assert run_child(ALARM_CHILD, arguments) == ["Alarm"]
