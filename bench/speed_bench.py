"""Query speed, build speed, image throughput and memory of _kelnor, against a
plain C++ rendering of the same queries (bench/baseline) and two peers from
PyPI, rapidfuzz and symspellpy, all in this process on the same terms and the
same seeded queries.

Needs: _kelnor on PYTHONPATH, cmake and ninja (the baseline is built on first
use into build/bench-baseline), `pip install rapidfuzz symspellpy matplotlib`,
`apt-get install wamerican-huge wfrench`.

Usage: python3 bench/speed_bench.py [--queries N] [--warmup N] [--rounds R]
                                    [--plot PATH] [--no-plot]

Times are processor time (this process's CPU time, so that other programs on a
shared machine count less), medians over rounds in which the contenders take
turns. Each ratio is the median over rounds of the other's time per query
divided by _kelnor's in the same round (rapidfuzz, timed once, is divided by
_kelnor's median).

What is timed is a host serving one query after another. Each round runs
every contender over all the queries (2000 by default), after an untimed pass
over other seeded queries (300 by default): a contender starts its round with
caches that the others' rounds filled with their own data, and without the
warm-up that refill would weigh in _kelnor's figure as it does not on such a
host (its first 100 queries after the baseline's round take about 1.7 times
as long as its later ones).
"""

from __future__ import annotations

import argparse
import gc
import importlib
import os
import platform
import random
import statistics
import subprocess
import sys
import time
from typing import Callable, Dict, List, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, HERE)

import model_image  # noqa: E402
from allocator import bytes_allocated_by  # noqa: E402
import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402
from model_trie import INT32  # noqa: E402

PLOT_SIZES = [10_000, 30_000, 100_000, 200_000, 348_000]


# ------------------------------------------------------------ the contenders


def baseline_module():
    build_dir = os.path.join(ROOT, "build", "bench-baseline")
    if not os.path.exists(os.path.join(build_dir, "build.ninja")):
        subprocess.run(
            ["cmake", "-S", os.path.join(HERE, "baseline"), "-B", build_dir, "-G", "Ninja",
             f"-DPython_EXECUTABLE={sys.executable}"],
            check=True, stdout=subprocess.DEVNULL,
        )
    subprocess.run(["cmake", "--build", build_dir], check=True, stdout=subprocess.DEVNULL)
    sys.path.insert(0, build_dir)
    return importlib.import_module("_kelnor_baseline")


class Contenders:
    """_kelnor, the baseline and the peers, each over the same terms."""

    def __init__(self, words: Sequence[str], baseline, peers: bool = True) -> None:
        from rapidfuzz import process
        from rapidfuzz.distance import Levenshtein
        from symspellpy import SymSpell, Verbosity

        self.data = word_data.index_data(words)
        self.index = PrefixSearch.from_internal_data_v2(*self.data.args())
        self.image = self.index.to_bytes()
        trie = model_image.decode(self.image)
        self.baseline = baseline.load(
            trie.node_shifts, trie.child_labels, trie.child_transitions, trie.payloads,
            [int(flag) for flag in trie.is_terminal], trie.id_mode == INT32,
            trie.video_uuids, trie.video_int_ids,
        )
        self.baseline_module = baseline
        self.words = list(words)
        self.peers = peers
        if peers:
            self.symspell = SymSpell(max_dictionary_edit_distance=2)
            for word in self.words:
                self.symspell.create_dictionary_entry(word, 1)
        self.process, self.levenshtein, self.verbosity = process, Levenshtein, Verbosity

    def kelnor_match(self, k: int) -> Callable[[str], list]:
        return lambda term: self.index.fuzzy_match(term, k)

    def kelnor_video(self, k: int) -> Callable[[str], list]:
        return lambda term: self.index.fuzzy_match_video(term, k)

    def baseline_match(self, k: int) -> Callable[[str], list]:
        return lambda term: self.baseline_module.fuzzy_match(self.baseline, term, k, None)

    def baseline_video(self, k: int) -> Callable[[str], list]:
        return lambda term: self.baseline_module.fuzzy_match_video(
            self.baseline, term, k, None, None, None
        )

    def rapidfuzz(self, k: int) -> Callable[[str], list]:
        return lambda term: self.process.extract(
            term, self.words, scorer=self.levenshtein.distance, score_cutoff=k, limit=None
        )

    def symspellpy(self, k: int) -> Callable[[str], list]:
        return lambda term: self.symspell.lookup(term, self.verbosity.ALL, max_edit_distance=k)


def seconds_per_query(call: Callable[[str], object], queries: Sequence[str]) -> float:
    start = time.process_time()
    for term in queries:
        call(term)
    return (time.process_time() - start) / len(queries)


def rounds_per_query(calls: Dict[str, Callable[[str], object]], queries: Sequence[str],
                     rounds: int, warmup: Sequence[str] = ()) -> Dict[str, List[float]]:
    """Seconds per query of each call in each round; in a round every call
    runs over the warm-up queries untimed, then over all the queries, one
    call after the other."""
    samples: Dict[str, List[float]] = {name: [] for name in calls}
    for _ in range(rounds):
        for name, call in calls.items():
            for term in warmup:
                call(term)
            samples[name].append(seconds_per_query(call, queries))
    return samples


def medians(samples: Dict[str, List[float]]) -> Dict[str, float]:
    return {name: statistics.median(times) for name, times in samples.items()}


def per_query(calls: Dict[str, Callable[[str], object]], queries: Sequence[str],
              rounds: int) -> Dict[str, float]:
    """Median seconds per query of each call over the rounds."""
    return medians(rounds_per_query(calls, queries, rounds))


def paired_ratio(samples: Dict[str, List[float]], other: str, kelnor: str) -> float:
    """The median over rounds of the other's time divided by _kelnor's in the
    same round: they run one after the other, so that the machine's speed,
    which drifts from round to round on a shared machine, weighs on both
    alike."""
    return statistics.median(theirs / ours for theirs, ours in zip(samples[other], samples[kelnor]))


def check_same_answers(contenders: Contenders, queries: Sequence[str]) -> None:
    for k in (1, 2):
        for term in queries:
            if contenders.kelnor_match(k)(term) != contenders.baseline_match(k)(term):
                raise SystemExit(f"fuzzy_match differs from the baseline on {term!r}, max_dist {k}")
            if contenders.kelnor_video(k)(term) != contenders.baseline_video(k)(term):
                raise SystemExit(f"fuzzy_match_video differs from the baseline on {term!r}, {k}")


# ------------------------------------------------------------ measurements


def median_seconds(action: Callable[[], object], rounds: int) -> float:
    samples = []
    for _ in range(rounds):
        gc.collect()
        start = time.process_time()
        action()
        samples.append(time.process_time() - start)
    return statistics.median(samples)


def index_figures(contenders: Contenders, rounds: int) -> Dict[str, float]:
    data, image = contenders.data, contenders.image
    nodes = len(data.child_labels)
    build = median_seconds(lambda: PrefixSearch.from_internal_data_v2(*data.args()), rounds)
    encode = median_seconds(contenders.index.to_bytes, rounds)
    decode = median_seconds(lambda: PrefixSearch.from_bytes(image), rounds)
    memory = bytes_allocated_by(lambda: PrefixSearch.from_bytes(image))
    return {
        "nodes": nodes,
        "image_mb": len(image) / 1e6,
        "build_nodes_per_s": nodes / build,
        "to_bytes_mb_per_s": len(image) / 1e6 / encode,
        "from_bytes_mb_per_s": len(image) / 1e6 / decode,
        "memory_bytes_per_node": memory / nodes,
        "image_bytes_per_node": len(image) / nodes,
        "memory_to_image": memory / len(image),
    }


def query_table(contenders: Contenders, queries: Sequence[str], warmup: Sequence[str],
                rounds: int, rapidfuzz_queries: int) -> List[dict]:
    rows = []
    for k in (1, 2):
        calls = {
            "kelnor_match": contenders.kelnor_match(k),
            "baseline_match": contenders.baseline_match(k),
            "kelnor_video": contenders.kelnor_video(k),
            "baseline_video": contenders.baseline_video(k),
        }
        rapidfuzz = None
        if contenders.peers:
            calls["symspellpy"] = contenders.symspellpy(k)
            rapidfuzz = per_query({"rapidfuzz": contenders.rapidfuzz(k)},
                                  queries[:rapidfuzz_queries], 1)["rapidfuzz"]
        samples = rounds_per_query(calls, queries, rounds, warmup)
        times = medians(samples)
        for method in ("match", "video"):
            kelnor = f"kelnor_{method}"
            row = dict(method=method, k=k, kelnor=times[kelnor], baseline=times[f"baseline_{method}"],
                       x_baseline=paired_ratio(samples, f"baseline_{method}", kelnor))
            if rapidfuzz is not None:
                row.update(rapidfuzz=rapidfuzz, x_rapidfuzz=rapidfuzz / times[kelnor],
                           symspellpy=times["symspellpy"],
                           x_symspellpy=paired_ratio(samples, "symspellpy", kelnor))
            rows.append(row)
    return rows


# ------------------------------------------------------------ output


def machine() -> str:
    model = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, "
            f"{platform.python_implementation()} {platform.python_version()}")


def microseconds(seconds: float) -> str:
    return f"{seconds * 1e6:,.1f} µs"


def print_query_table(title: str, rows: List[dict]) -> None:
    print(f"\n{title}: time per query, and how many times slower the others are")
    peers = [name for name in ("rapidfuzz", "symspellpy") if name in rows[0]]
    header = ["query", "max_dist", "_kelnor", "baseline", "x baseline"]
    for name in peers:
        header += [name, f"x {name}"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        name = "fuzzy_match" if row["method"] == "match" else "fuzzy_match_video"
        cells = [name, str(row["k"]), microseconds(row["kelnor"]), microseconds(row["baseline"]),
                 f"{row['x_baseline']:.1f}"]
        for peer in peers:
            cells += [microseconds(row[peer]), f"{row['x_' + peer]:.1f}"]
        print("| " + " | ".join(cells) + " |")


def print_index_figures(figures: Dict[str, float]) -> None:
    print(f"\nindex: {figures['nodes']:,} nodes, image {figures['image_mb']:.1f} MB")
    print("| figure | value |\n|---|---|")
    print(f"| build from Python lists | {figures['build_nodes_per_s'] / 1e6:.2f} M nodes/s |")
    print(f"| to_bytes | {figures['to_bytes_mb_per_s']:,.0f} MB/s |")
    print(f"| from_bytes | {figures['from_bytes_mb_per_s']:,.0f} MB/s |")
    print(f"| index memory | {figures['memory_bytes_per_node']:.1f} bytes/node "
          f"({figures['memory_to_image']:.2f} x the image, "
          f"{figures['image_bytes_per_node']:.1f} bytes/node) |")


def plot(path: str, words: Sequence[str], baseline, queries_per_size: int, rounds: int) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rng = random.Random(5)
    sizes = [size for size in PLOT_SIZES if size <= len(words)]
    series: Dict[tuple, List[float]] = {}
    for size in sizes:
        sample = sorted(rng.sample(list(words), size))
        contenders = Contenders(sample, baseline)
        queries = word_data.queries(sample, queries_per_size, seed=size)
        for k in (1, 2):
            times = per_query({"kelnor": contenders.kelnor_match(k),
                               "baseline": contenders.baseline_match(k),
                               "symspellpy": contenders.symspellpy(k)}, queries, rounds)
            times.update(per_query({"rapidfuzz": contenders.rapidfuzz(k)}, queries[:10], 1))
            for name, seconds in times.items():
                series.setdefault((name, k), []).append(seconds * 1e6)
        print(f"plot: {size:,} terms measured", file=sys.stderr)
        del contenders
        gc.collect()

    figure, axes = plt.subplots(1, 2, figsize=(11, 4.5), sharey=True)
    for axis, k in zip(axes, (1, 2)):
        # (matplotlib leaves labels that start with "_" out of the legend)
        for name in ("kelnor", "baseline", "symspellpy", "rapidfuzz"):
            axis.plot(sizes, series[(name, k)], marker="o", label=name)
        axis.set_xscale("log")
        axis.set_yscale("log")
        axis.set_title(f"fuzzy_match, max_dist {k}")
        axis.set_xlabel("terms in the dictionary")
        axis.grid(True, which="both", alpha=0.3)
    axes[0].set_ylabel("time per query (µs)")
    axes[0].legend()
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    print(f"\nplot written to {path}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--queries", type=int, default=2000)
    parser.add_argument("--warmup", type=int, default=300)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--rapidfuzz-queries", type=int, default=20)
    parser.add_argument("--plot", default=os.path.join(HERE, "speed_bench.png"))
    parser.add_argument("--no-plot", action="store_true")
    options = parser.parse_args()

    baseline = baseline_module()
    print(f"machine: {machine()}")
    for name in ("english", "french"):
        words = word_data.read_words(name)
        contenders = Contenders(words, baseline)
        queries = word_data.queries(words, options.queries, seed=3)
        warmup = word_data.queries(words, options.warmup, seed=4)
        check_same_answers(contenders, queries)
        title = f"{name} ({word_data.WORD_LISTS[name]}, {len(words):,} terms)"
        print_query_table(title, query_table(contenders, queries, warmup, options.rounds,
                                             options.rapidfuzz_queries))
        if name == "english":
            print_index_figures(index_figures(contenders, options.rounds))
        del contenders
        gc.collect()
    if not options.no_plot:
        plot(options.plot, word_data.read_words("english"), baseline, 100, 3)


if __name__ == "__main__":
    main()
