"""A long query stops within moments of a signal whose handler raises.

The walk asks for pending signals every few thousand visits, so Ctrl-C
(KeyboardInterrupt) or an alarm whose handler raises ends a query that would
run for seconds, with the handler's exception, and leaves the index usable.
A query in another thread, which signals do not stop, leaves the main thread
free meanwhile: the handler raises there at once, in the middle of a join.
Each case runs in a process of its own, forked from a child that built the
index, and a process of its own signals it.
"""

from __future__ import annotations

import ast
import subprocess
import sys
import textwrap

import pytest

from conftest import ON_PYPY, child_environment, pypy_differs

pytestmark = pytest.mark.skipif(sys.platform == "win32", reason="needs POSIX signals")

# Run in the child: an index whose root has 100,000 leaves, queried with a
# term of 10,000 characters at the widest bound (each leaf then costs a row
# of 10,001 cells: seconds in all); or, for "completions", one whose root has
# a million leaves that all lead to a node that is its own child, where the
# completion search ranks ever longer paths round that cycle for seconds
# until its budget is spent; for "word_starts", one whose phrase of 32,767
# words is matched word by word against 16,000 typed words (half a billion
# word matches in that one phrase). A batch call ("..._many") runs a hundred such
# queries on two threads; "short_many" runs 16,000 short queries with long
# answers on eight threads, whose answers are ready before the calling thread
# gets to convert them. The signal comes about 0.2 s into the query.
# The index is built once; each case given after the method, a signal kind and
# where the query runs (in the main thread, or in a second one that the main
# thread joins), runs in a process forked from the one that built it. Prints
# for each case the exception's type name, the seconds from the signal to it,
# whether the long query still runs then, and the answer of a short query.
CHILD = textwrap.dedent("""
    import os, signal, sys, threading, time
    import model_image
    from _kelnor import PrefixSearch
    from model_trie import ModelTrie

    method = sys.argv[1]
    if method == "completions":
        leaves = 1_000_000
        index = PrefixSearch.from_internal_data_v2(
            [0, *range(leaves, 2 * leaves)],
            ["", *["a"] * leaves],
            [None, (1, [0], [1]), (1, [0], [1]), *[None] * (leaves - 2)],
            [*range(1, leaves + 1), *[1] * leaves],
            [bytes(4)],
            3,
        )
        query = lambda: index.suggest("", 0, None)
    elif method == "word_starts":
        import kelnor
        index = kelnor.build([(" ".join(["a"] * 32767), 1, 1), ("a", 2, 1)], word_starts=True)
        text = " ".join(["a"] * 16000)
        query = lambda: index.suggest(text, limit=1)
    elif method == "short_many":
        import random
        import kelnor
        rng = random.Random(1)
        texts = ["".join(rng.choice("abcdefghij") for _ in range(rng.randint(3, 9)))
                 for _ in range(30_000)]
        index = kelnor.build([("a", 1, 1), *((text, k % 500, 1) for k, text in enumerate(texts))])
        query = lambda: index.fuzzy_match_many(texts[:16_000], 3, workers=8)
    else:
        leaves = 100_000
        trie = ModelTrie(
            node_shifts=[0] + [leaves] * leaves,
            child_labels=[0] + [ord("a")] * leaves,
            child_transitions=list(range(1, leaves + 1)),
            payloads=[None] * (leaves + 1),
            is_terminal=[False] + [True] * 2 + [False] * (leaves - 2),
        )
        index = PrefixSearch.from_bytes(model_image.encode(trie))
        query = lambda: getattr(index, method)("b" * 10_000, 2**32 - 1)
        if method.endswith("_many"):
            # A batch of such queries on two threads, the calling one and another.
            many = getattr(index, method)
            query = lambda: many(["b" * 10_000] * 100, 2**32 - 1, workers=2)

    class Alarm(Exception):
        pass

    def on_alarm(number, frame):
        raise Alarm

    def run_case(signal_kind, where):
        # The signal comes from another process, as Ctrl-C does.
        number = signal.SIGALRM if signal_kind == "alarm" else signal.SIGINT
        signal.signal(signal.SIGALRM, on_alarm)
        # Ctrl-C raises as at a terminal, also where the run was started in
        # the background, which ignores SIGINT.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        parent = os.getpid()
        sent = time.monotonic() + 0.2
        if os.fork() == 0:
            time.sleep(0.2)
            os.kill(parent, number)
            os._exit(0)
        answered = []
        worker = threading.Thread(target=lambda: answered.append(query()), daemon=True)
        try:
            if where == "thread":
                worker.start()
                worker.join()
            else:
                query()
            raised = None
        except BaseException as error:
            raised = type(error).__name__
        seconds = time.monotonic() - sent
        still_querying = worker.ident is not None and not answered
        return raised, seconds, still_querying, index.fuzzy_match("a", 0)

    for case in sys.argv[2:]:
        signal_kind, where = case.split("/")
        case_process = os.fork()
        if case_process == 0:
            print(repr((case, run_case(signal_kind, where))), flush=True)
            os._exit(0)  # not waiting for the query in the other thread
        assert os.waitpid(case_process, 0)[1] == 0, case
    """)


IN_THE_MAIN_THREAD = pytest.param(
    "main", marks=pypy_differs("cpyext's PyErr_CheckSignals leaves Python signal handlers for later")
)
SIGNALS = [("alarm", "Alarm"), ("sigint", "KeyboardInterrupt")]
# Where the cases run: IN_THE_MAIN_THREAD's are skipped on PyPy, where their
# query would run to its end.
WHERES = ["thread"] if ON_PYPY else ["main", "thread"]


@pytest.fixture(scope="module")
def interrupted():
    """(exception name, seconds, still querying, short answer) of a case,
    from one child process per method for all of the method's cases."""
    results = {}

    def result(method: str, signal_kind: str, where: str) -> tuple:
        if method not in results:
            cases = [f"{kind}/{place}" for kind, _ in SIGNALS for place in WHERES]
            completed = subprocess.run(
                [sys.executable, "-c", CHILD, method, *cases],
                capture_output=True,
                text=True,
                timeout=120,
                env=child_environment(),
            )
            assert completed.returncode == 0, completed.stderr
            lines = map(ast.literal_eval, completed.stdout.splitlines())
            results[method] = dict(lines)
            assert sorted(results[method]) == sorted(cases)
        return results[method][f"{signal_kind}/{where}"]

    return result


@pytest.mark.parametrize(
    "method",
    [
        "fuzzy_match",
        "fuzzy_match_video",
        "suggest",
        "search",
        "completions",
        "word_starts",
        # Its case is the main thread's, which PyPy cannot run; in the other,
        # PyPy's lock stays seconds with the thread converting answers.
        pytest.param("short_many", marks=pypy_differs("no case of the main thread")),
        "fuzzy_match_many",
        "search_many",
    ],
)
@pytest.mark.parametrize("signal_kind, raised", SIGNALS)
@pytest.mark.parametrize("where", [IN_THE_MAIN_THREAD, "thread"])
def test_a_signal_stops_a_long_query(interrupted, method, signal_kind, raised, where):
    name, seconds, still_querying, answer = interrupted(method, signal_kind, where)
    assert name == raised
    assert seconds < 2
    assert still_querying == (where == "thread")
    assert answer == (
        [("a", 1, 0)] if method in ("word_starts", "short_many") else [("a", 1, 0), ("a", 1, 0)]
    )
