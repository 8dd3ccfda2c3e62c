"""Reloading under load: wrk against `kelnor serve` while its index is replaced.

Serves an index of american-english-huge (as serve_bench.py; --words adds
the French and German lists for a larger one) and drives
/suggest with wrk for --seconds twice: once undisturbed, once while the index
file is replaced --reloads times (by a rename, as `kelnor build -o` does, with
a second index of the same words and other videos) and the server is sent
SIGHUP. Reports each run's requests/s, p50 and p99, failed and 5xx answers,
how long each reload took to show in /health, and each process's memory
before the reloads, after the first (just before the second) and after the
last.

Needs what serve_bench.py needs. Usage:
python3 bench/reload_bench.py [--seconds S] [--reloads N] [--workers W ...]
                              [--words english french german]

Exits with status 1 if any answer was a 5xx or a connection failed.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import serve_bench  # noqa: E402  (its sys.path set-up comes first)
import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402

import kelnor  # noqa: E402

CONNECTIONS = 64


def checksum(port: int) -> str:
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/health", timeout=10) as response:
        return str(json.load(response)["checksum"])


def reload_seconds(server: subprocess.Popen, port: int, served: str, new: str) -> float:
    """Renames a copy of `new` over `served`, sends SIGHUP, and gives the
    seconds until /health reports the new index (on whichever worker answers)."""
    staged = served + ".new"
    shutil.copyfile(new, staged)
    os.replace(staged, served)
    expected = kelnor.file_info(served).checksum
    start = time.perf_counter()
    server.send_signal(signal.SIGHUP)
    while checksum(port) != expected:
        time.sleep(0.01)
    return time.perf_counter() - start


def wrk_row(label: str, figures: dict) -> str:
    rate = figures["requests"] / figures["seconds"]
    return (
        f"| {label} | {rate:,.0f} | {figures['p50_ms']:.2f} | {figures['p99_ms']:.2f} | "
        f"{figures['socket_errors']} | {figures['status_5xx']} |"
    )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--reloads", type=int, default=5)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument(
        "--words", nargs="+", choices=sorted(word_data.WORD_LISTS), default=["english"]
    )
    args = parser.parse_args()

    words = sorted({word for name in args.words for word in word_data.read_words(name)})
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        versions = []
        for seed in (1, 2):
            version = os.path.join(scratch, f"english-{seed}.bin")
            data = word_data.index_data(words, seed=seed)
            kelnor.save(PrefixSearch.from_internal_data_v2(*data.args()), version)
            versions.append(version)
        served = os.path.join(scratch, "served.bin")
        paths_file = os.path.join(scratch, "suggest.txt")
        with open(paths_file, "w") as file:
            file.write("\n".join(serve_bench.request_paths("/suggest", words)) + "\n")
        size = os.path.getsize(versions[0])
        print(
            f"index file: {size / 2**20:.1f} MiB ({len(words):,} words); "
            f"wrk -c{CONNECTIONS} for {args.seconds} s\n"
        )
        rows, memory_rows, reload_rows = [], [], []
        for workers in args.workers:
            shutil.copyfile(versions[0], served)
            port = serve_bench.free_port()
            server = serve_bench.start_server(served, port, workers)
            try:
                processes = serve_bench.server_processes(server.pid)
                serve_bench.run_wrk(port, CONNECTIONS, 5, paths_file)  # warm-up
                quiet = serve_bench.run_wrk(port, CONNECTIONS, args.seconds, paths_file)
                rows.append(wrk_row(f"{workers} | none", quiet))
                before = {role: serve_bench.memory_kb(pid) for role, pid in processes.items()}
                command = serve_bench.wrk_command(port, CONNECTIONS, args.seconds, paths_file)
                load = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
                gap = args.seconds / (args.reloads + 1)
                took = []
                after_one = before
                for number in range(args.reloads):
                    time.sleep(gap)
                    if number == 1:
                        after_one = {r: serve_bench.memory_kb(pid) for r, pid in processes.items()}
                    took.append(reload_seconds(server, port, served, versions[(number + 1) % 2]))
                output = load.communicate()[0]
                busy = json.loads(output.strip().splitlines()[-1])
                rows.append(wrk_row(f"{workers} | {args.reloads}", busy))
                failed |= any(f["status_5xx"] or f["socket_errors"] for f in (quiet, busy))
                time.sleep(1)  # the last requests on the old index end
                after = {role: serve_bench.memory_kb(pid) for role, pid in processes.items()}
                reload_rows.append((workers, took))
                for role in processes:
                    memory_rows.append((workers, role, (before, after_one, after)))
            finally:
                server.send_signal(signal.SIGTERM)
                server.wait(timeout=60)

    print("| workers | reloads | requests/s | p50 ms | p99 ms | socket errors | 5xx |")
    print("|---|---|---|---|---|---|---|")
    print("\n".join(rows))
    print("\nSeconds from SIGHUP until /health reports the new index, each reload:\n")
    for workers, took in reload_rows:
        print(f"- {workers} worker(s): " + ", ".join(f"{seconds:.2f}" for seconds in took))
    print("\nMemory of each process, MiB, before / after one reload / after all (RSS, private).\n")
    print("| workers | process | RSS | private |")
    print("|---|---|---|---|")
    for workers, role, samples in memory_rows:
        rss = " / ".join(f"{sample[role]['Rss'] / 1024:.1f}" for sample in samples)
        private = " / ".join(f"{serve_bench.private_mib(sample[role]):.1f}" for sample in samples)
        print(f"| {workers} | {role} | {rss} | {private} |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
