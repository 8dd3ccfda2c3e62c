"""How often suggest() puts the intended word first and in its top five, for
real misspellings over a real English vocabulary, beside aspell on the same
pairs.

The data is installed beforehand (see bench/misspelling_lists.py) and the
vocabulary is indexed with its corpus counts (divided so that the greatest
fits 32 bits). Rows:
- "before": another build of _kelnor (--before DIR, say the commit before
  the spelling cost) with its defaults, `suggest(w, complete=False)`;
- "default": this build's `suggest(w, complete=False)`;
- "no transpositions": this build with `transpositions=False`;
- "aspell": `aspell -a` over a pipe, when installed; its time is wall-clock
  time per word, the others' this process's CPU time per word (median of
  --rounds rounds in which the rows take turns).
Every row takes the top five suggestions of each misspelling.

Usage: python3 bench/spelling_bench.py [--before DIR] [--rounds R]
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from typing import Callable, Dict, List, Optional, Sequence, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import misspelling_lists  # noqa: E402
from ab_bench import load_extension, per_query  # noqa: E402

TOP = 5
U32_MAX = 2**32 - 1
Suggester = Callable[[str], List[str]]


def index_arrays(counts: Dict[str, int]) -> tuple:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
    from kelnor.builder import IndexBuilder

    scale = -(-max(counts.values()) // U32_MAX)
    builder = IndexBuilder()
    for word, count in counts.items():
        builder.add(word, 0, max(1, count // scale))
    return tuple(builder.internal_data_v2())


def aspell_suggestions(words: Sequence[str]) -> Tuple[Dict[str, List[str]], float]:
    """The suggestions of `aspell -a` for each word, and the wall-clock
    seconds per word."""
    started = time.perf_counter()
    answer = subprocess.run(["aspell", "-a", "--lang=en"], input="".join(f"^{w}\n" for w in words),
                            capture_output=True, text=True, check=True).stdout
    seconds = (time.perf_counter() - started) / len(words)
    # After the banner, each line given gets its result lines then a blank one.
    blocks = answer.split("\n", 1)[1].split("\n\n")
    found: Dict[str, List[str]] = {}
    for word, block in zip(words, blocks):
        suggestions: List[str] = []
        for line in block.splitlines():
            if line.startswith("& "):
                suggestions = [s.strip() for s in line.split(": ", 1)[1].split(",")]
        found[word] = suggestions
    return found, seconds


def scores(suggest: Suggester, pairs: Dict[str, str]) -> Tuple[float, float]:
    first = top = 0
    for misspelling, intended in pairs.items():
        suggestions = suggest(misspelling)[:TOP]
        first += bool(suggestions) and suggestions[0] == intended
        top += intended in suggestions
    return 100 * first / len(pairs), 100 * top / len(pairs)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--before", help="a directory holding another build of _kelnor")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    counts = misspelling_lists.frequencies()
    lists = misspelling_lists.tuning_and_held_out(counts)
    arrays = index_arrays(counts)
    from _kelnor import PrefixSearch

    index = PrefixSearch.from_internal_data_v2(*arrays)
    rows: Dict[str, Suggester] = {}
    if args.before:
        before = load_extension(args.before).PrefixSearch.from_internal_data_v2(*arrays)
        rows["before: suggest(w, complete=False)"] = lambda w: [
            s[0] for s in before.suggest(w, None, TOP, complete=False)]
    rows["default: suggest(w, complete=False)"] = lambda w: [
        s[0] for s in index.suggest(w, None, TOP, complete=False)]
    rows["suggest(w, complete=False, transpositions=False)"] = lambda w: [
        s[0] for s in index.suggest(w, None, TOP, complete=False, transpositions=False)]
    print(f"vocabulary: {len(counts)} words; " +
          "; ".join(f"{name}: {len(pairs)} pairs" for name, pairs in lists.items()))

    for name, pairs in lists.items():
        words = list(pairs)
        times: Dict[str, List[float]] = {row: [] for row in rows}
        for _ in range(args.rounds):
            for row, run in rows.items():
                times[row].append(per_query(run, words))
        print(f"\n{name}")
        print(f"  {'system':52s} {'top-1':>7s} {'top-5':>7s} {'us/word':>9s}")
        reference: Optional[float] = None
        for row, run in rows.items():
            first, top = scores(run, pairs)
            seconds = statistics.median(times[row])
            reference = reference or seconds
            print(f"  {row:52s} {first:6.2f}% {top:6.2f}% {seconds * 1e6:9.1f}"
                  f"  {seconds / reference:5.2f}x")
        if shutil.which("aspell"):
            found, seconds = aspell_suggestions(words)
            first, top = scores(lambda w: found[w], pairs)
            print(f"  {'aspell -a':52s} {first:6.2f}% {top:6.2f}% {seconds * 1e6:9.1f}"
                  f"  {seconds / (reference or seconds):5.2f}x")
        else:
            print("  aspell -a: not installed (apt-get install aspell aspell-en)")


if __name__ == "__main__":
    main()
