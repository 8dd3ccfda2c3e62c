"""Load test of `kelnor serve`: wrk against /suggest and /videos on loopback.

Serves an index of american-english-huge (348k words, Zipf-like videos, as in
the speed benchmark) with 1 and then 2 workers, and drives each endpoint for
--seconds at each concurrency with wrk and bench/serve_mix.lua. The requests
cycle through seeded misspelt words at max_dist=1; one in 100 is malformed or
oversized (missing or empty q, a q of thousands of characters, numbers out of
range, an unknown parameter), which must get a 4xx, never a 5xx. Reports
requests/s, p50 and p99 latency, the processor time the server's processes
spent per request (user and system, in µs of one core: a figure that other
work on the machine changes far less than the rate), the answers by status
class, and each
server process's memory when it started serving, after a warm-up run and
after the last run (flat: no growth under load; shared: each worker's private
memory far below the index's size). Then, with --slow-clients connections
open that sent nothing, half a request line or headers without their end,
times GET /health one request after another (slow clients: the server must
answer at once, none failing).

Needs: _kelnor on PYTHONPATH, `pip install '.[serve]'`,
`apt-get install wrk wamerican-huge`.

Usage: python3 bench/serve_bench.py [--seconds S] [--connections C ...] [--workers W ...]
                                    [--slow-clients N] [--endpoints /suggest /videos]

Exits with status 1 if any answer was a 5xx or a connection failed. Every
request goes to 127.0.0.1, and each wrk run ends after --seconds.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
from typing import Dict, List, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "python"))
sys.path.insert(0, os.path.join(ROOT, "tests"))

import slow_clients  # noqa: E402
import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402

ENDPOINTS = ["/suggest", "/videos"]
QUERY_COUNT = 5000
MALFORMED_EVERY = 100
MALFORMED = [
    "{endpoint}",
    "{endpoint}?q=",
    "{endpoint}?q=" + "x" * 4000,
    "{endpoint}?q=hello&max_dist=9",
    "{endpoint}?q=hello&limit=-1",
    "{endpoint}?q=hello&colour=blue",
    "{endpoint}?q=hello&q=again",
]
MEMORY_FIELDS = ["Rss", "Pss", "Private_Clean", "Private_Dirty"]
START_SECONDS = 120
HEALTH_REQUESTS = 200


def request_paths(endpoint: str, words: List[str]) -> List[str]:
    """Seeded misspelt queries at max_dist=1, every MALFORMED_EVERY-th one malformed."""
    paths = []
    for number, query in enumerate(word_data.queries(words, QUERY_COUNT, seed=20)):
        if number % MALFORMED_EVERY == MALFORMED_EVERY - 1:
            malformed = MALFORMED[(number // MALFORMED_EVERY) % len(MALFORMED)]
            paths.append(malformed.format(endpoint=endpoint))
        else:
            paths.append(f"{endpoint}?{urllib.parse.urlencode({'q': query, 'max_dist': 1})}")
    return paths


def memory_kb(pid: int) -> Dict[str, int]:
    figures = {}
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            name, _, rest = line.partition(":")
            if name in MEMORY_FIELDS:
                figures[name] = int(rest.split()[0])
    return figures


def private_mib(figures: Dict[str, int]) -> float:
    """Memory that no other process shares."""
    return (figures["Private_Clean"] + figures["Private_Dirty"]) / 1024


def processor_seconds(pids: List[int]) -> float:
    """The user and system time that the processes `pids` have spent so far."""
    ticks = 0
    for pid in pids:
        with open(f"/proc/{pid}/stat") as stat:
            # The fields after the command's closing parenthesis; utime and stime are 14 and 15.
            fields = stat.read().rsplit(")", 1)[1].split()
        ticks += int(fields[11]) + int(fields[12])
    return ticks / os.sysconf("SC_CLK_TCK")


def server_processes(pid: int) -> Dict[str, int]:
    """The serving processes by role: the server itself, or its forked workers."""
    with open(f"/proc/{pid}/task/{pid}/children") as children:
        workers = [int(child) for child in children.read().split()]
    if not workers:
        return {"server": pid}
    return {"supervisor": pid, **{f"worker {i + 1}": child for i, child in enumerate(workers)}}


def start_server(
    index_path: str, port: int, workers: int, options: tuple[str, ...] = ()
) -> subprocess.Popen:
    """`kelnor serve index_path` with `options`, once it answers."""
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    command = [sys.executable, "-m", "kelnor", "serve", index_path, "--port", str(port)]
    server = subprocess.Popen(command + ["--workers", str(workers), *options], env=env)
    deadline = time.monotonic() + START_SECONDS
    while True:
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{port}/health", timeout=5):
                break
        except OSError:
            if server.poll() is not None or time.monotonic() > deadline:
                raise SystemExit("the server did not start")
            time.sleep(0.2)
    time.sleep(1)  # the other workers finish starting
    return server


def wrk_command(port: int, connections: int, seconds: int, paths_file: str) -> List[str]:
    """wrk requesting the paths of `paths_file`; its last line of output is JSON."""
    script = os.path.join(HERE, "serve_mix.lua")
    return [
        "wrk",
        f"-t{min(2, connections)}",
        f"-c{connections}",
        f"-d{seconds}s",
        "-s",
        script,
        f"http://127.0.0.1:{port}",
        "--",
        paths_file,
    ]


def run_wrk(port: int, connections: int, seconds: int, paths_file: str) -> dict:
    command = wrk_command(port, connections, seconds, paths_file)
    output = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    return json.loads(output.strip().splitlines()[-1])


def health_under_slow_clients(port: int, count: int) -> str:
    """A table row's figures: /health latency in ms (p50 | p99 | max) while
    `count` slow clients are connected, or why it failed."""
    # Each slow client is an open file here too; the servers, started
    # before, keep the limit they were given.
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    try:
        with slow_clients.slow_connections("127.0.0.1", port, count):
            latencies = sorted(
                slow_clients.health_latencies_ms(f"http://127.0.0.1:{port}", HEALTH_REQUESTS)
            )
    except OSError as error:
        return f"failed: {error}"
    p50, p99 = latencies[len(latencies) // 2], latencies[len(latencies) * 99 // 100]
    return f"{p50:.2f} | {p99:.2f} | {latencies[-1]:.2f}"


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


def english_index_file(words: List[str], folder: str) -> Tuple[str, bytes]:
    """(path, image) of the served index of `words`, written to `folder`."""
    image = PrefixSearch.from_internal_data_v2(*word_data.index_data(words).args()).to_bytes()
    index_path = os.path.join(folder, "english.bin")
    with open(index_path, "wb") as file:
        file.write(image)
    return index_path, image


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--connections", type=int, nargs="+", default=[8, 64])
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--slow-clients", type=int, default=2000)
    parser.add_argument("--endpoints", nargs="+", choices=ENDPOINTS, default=ENDPOINTS)
    args = parser.parse_args()

    words = word_data.read_words("english")
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        index_path, image = english_index_file(words, scratch)
        paths_files = {}
        for endpoint in ENDPOINTS:
            paths_files[endpoint] = os.path.join(scratch, endpoint.strip("/") + ".txt")
            with open(paths_files[endpoint], "w") as file:
                file.write("\n".join(request_paths(endpoint, words)) + "\n")
        print(
            f"index: {len(words):,} words, image {len(image) / 2**20:.1f} MiB; "
            f"{args.seconds} s per run; 1 request in {MALFORMED_EVERY} malformed\n"
        )
        print(
            "| workers | endpoint | connections | requests/s | p50 ms | p99 ms "
            "| CPU µs/request | 4xx | 5xx |"
        )
        print("|---|---|---|---|---|---|---|---|---|")
        memory_rows = []
        slow_rows = []
        for workers in args.workers:
            port = free_port()
            server = start_server(index_path, port, workers)
            try:
                processes = server_processes(server.pid)
                started = {role: memory_kb(pid) for role, pid in processes.items()}
                # A warm-up, not reported: the thread pools and caches fill.
                run_wrk(port, 64, 5, paths_files["/suggest"])
                warm = {role: memory_kb(pid) for role, pid in processes.items()}
                for endpoint in args.endpoints:
                    for connections in args.connections:
                        spent = processor_seconds(list(processes.values()))
                        figures = run_wrk(port, connections, args.seconds, paths_files[endpoint])
                        spent = processor_seconds(list(processes.values())) - spent
                        rate = figures["requests"] / figures["seconds"]
                        print(
                            f"| {workers} | {endpoint} | {connections} | {rate:,.0f} | "
                            f"{figures['p50_ms']:.2f} | {figures['p99_ms']:.2f} | "
                            f"{spent / figures['requests'] * 1e6:.0f} | "
                            f"{figures['status_4xx']:,} | {figures['status_5xx']} |",
                            flush=True,
                        )
                        failed |= figures["status_5xx"] > 0 or figures["socket_errors"] > 0
                after = {role: memory_kb(pid) for role, pid in processes.items()}
                slow_rows.append((workers, health_under_slow_clients(port, args.slow_clients)))
                for role in processes:
                    memory_rows.append((workers, role, [started[role], warm[role], after[role]]))
            finally:
                server.send_signal(signal.SIGTERM)
                server.wait(timeout=60)

    print(
        "\nMemory of each process, MiB: when it started serving / after the warm-up / "
        "after the last run. Private: pages no other process shares; PSS: private plus "
        "its share of the shared ones.\n"
    )
    print("| workers | process | RSS | private | PSS |")
    print("|---|---|---|---|---|")
    for workers, role, points in memory_rows:
        rss = " / ".join(f"{figures['Rss'] / 1024:.1f}" for figures in points)
        private = " / ".join(f"{private_mib(figures):.1f}" for figures in points)
        pss = " / ".join(f"{figures['Pss'] / 1024:.1f}" for figures in points)
        print(f"| {workers} | {role} | {rss} | {private} | {pss} |")
    print(
        f"\nSlow clients: {HEALTH_REQUESTS} GET /health one after another, each on a new "
        f"connection, while {args.slow_clients:,} connections are open that sent nothing, half "
        "a request line or headers without their end.\n"
    )
    print("| workers | /health p50 ms | p99 ms | max ms |")
    print("|---|---|---|---|")
    for workers, figures in slow_rows:
        print(f"| {workers} | {figures} |")
        failed |= figures.startswith("failed")
    if failed:
        print("\nFAILED: some answers were 5xx or some connections failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
