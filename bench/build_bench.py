"""Build time and memory of an index of about a million nodes or more.

Makes random words until their trie has at least NODES nodes, turns them into
the six plain Python lists of from_internal_data_v2 (not timed), then times
the build and measures how much the resident memory grew for the finished
index. Usage: python3 bench/build_bench.py [NODES] [VIDEO_TOP_N]
"""

from __future__ import annotations

import gc
import os
import random
import string
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from _kelnor import PrefixSearch  # noqa: E402
from allocator import allocated_bytes  # noqa: E402
from host_data import int_video_index, internal_data  # noqa: E402

VIDEO_COUNT = 100_000


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def random_entries(node_goal: int, rng: random.Random) -> list:
    """(term, payload) pairs whose trie has at least `node_goal` nodes."""
    seen_prefixes = {""}
    entries = []
    while len(seen_prefixes) < node_goal:
        term = "".join(rng.choices(string.ascii_lowercase[:20], k=rng.randint(3, 12)))
        seen_prefixes.update(term[:end] for end in range(1, len(term) + 1))
        videos = rng.sample(range(VIDEO_COUNT), rng.randint(1, 4))
        counts = [rng.randint(1, 1000) for _ in videos]
        entries.append((term, (sum(counts), videos, counts)))
    return entries


def main() -> None:
    node_goal = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    top_n = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    rng = random.Random(7)
    data = internal_data(random_entries(node_goal, rng), int_video_index(range(VIDEO_COUNT)), top_n)
    nodes = len(data.child_labels)
    args = data.args()

    gc.collect()
    before = resident_bytes()
    allocated_before = allocated_bytes()
    start = time.perf_counter()
    index = PrefixSearch.from_internal_data_v2(*args)
    seconds = time.perf_counter() - start
    gc.collect()
    grown = resident_bytes() - before
    allocated_after = allocated_bytes()

    print(f"nodes:            {nodes}")
    print(f"video_top_n:      {top_n}")
    print(f"build time:       {seconds:.3f} s")
    print(f"nodes per second: {nodes / seconds:,.0f}")
    print(f"index memory:     {grown / nodes:.1f} bytes per node (resident growth)")
    if allocated_before is not None and allocated_after is not None:
        allocated = (allocated_after - allocated_before) / nodes
        print(f"index memory:     {allocated:.1f} bytes per node (allocated)")
    del index


if __name__ == "__main__":
    main()
