"""What giving a replaced index's memory back costs, in one process as in a
server worker after a reload: two copies of an index file loaded, one freed,
and then `malloc_trim(0)` (kelnor.server.freed_memory) timed, with the
process's resident memory at each step.

Needs glibc and the word lists of word_data.py. Usage:
python3 bench/trim_bench.py [--words english french german] [--reloads N]
"""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "python"))

import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402

import kelnor  # noqa: E402
from kelnor.server.freed_memory import give_back_freed_memory  # noqa: E402


def resident_mib() -> float:
    with open("/proc/self/status") as status:
        line = next(line for line in status if line.startswith("VmRSS:"))
    return int(line.split()[1]) / 1024


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--words", nargs="+", choices=sorted(word_data.WORD_LISTS), default=["english"]
    )
    parser.add_argument("--reloads", type=int, default=4)
    args = parser.parse_args()
    words = sorted({word for name in args.words for word in word_data.read_words(name)})
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "index.bin")
        kelnor.save(PrefixSearch.from_internal_data_v2(*word_data.index_data(words).args()), path)
        del words
        give_back_freed_memory()
        print(f"index file: {os.path.getsize(path) / 2**20:.1f} MiB\n")
        print("| reload | RSS with both, MiB | one freed | trimmed | malloc_trim ms |")
        print("|---|---|---|---|---|")
        served = kelnor.load(path)
        for number in range(1, args.reloads + 1):
            fresh = kelnor.load(path)
            both = resident_mib()
            served = fresh  # the old copy is freed here
            freed = resident_mib()
            start = time.perf_counter()
            give_back_freed_memory()
            took = (time.perf_counter() - start) * 1000
            print(f"| {number} | {both:.0f} | {freed:.0f} | {resident_mib():.0f} | {took:.1f} |")
        del served


if __name__ == "__main__":
    main()
