"""What /metrics costs a request: wrk against /suggest with and without it.

Serves the index of serve_bench.py (american-english-huge) from two servers
at once, `kelnor serve --metrics` and `--no-metrics`, with the same
--workers, and drives /suggest on each in turn (--rounds times, --seconds a
run, after a warm-up of each), so that both meet the same load of the
machine. Reports each run's requests/s and p50, the mean of each, and the
cost of the metrics: the share of requests per second lost with them.

On a shared machine that figure moves by more than the cost, so the script
first measures the cost alone: the least processor time, over several
rounds, that a request spends in the wrappers of the application (around an
application that answers at once), without metrics, with them, and with them
written to the forked workers' shared files.

Needs what serve_bench.py needs. Usage:
python3 bench/metrics_bench.py [--seconds S] [--rounds N] [--connections C] [--workers W ...]

Exits with status 1 if any answer was a 5xx or a connection failed.
"""

from __future__ import annotations

import argparse
import asyncio
import os
import signal
import sys
import tempfile
import time
from typing import Any

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import serve_bench  # noqa: E402  (its sys.path set-up comes first)
import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402

from kelnor.server.http_headers import with_cache_control  # noqa: E402
from kelnor.server.metrics import Metrics, metered, shared_by_workers  # noqa: E402
from kelnor.server.operations import ROUTES  # noqa: E402
from kelnor.server.served_index import index_info, served  # noqa: E402

MODES = ("--metrics", "--no-metrics")
WRAPPER_ROUNDS = 7
WRAPPER_CALLS = 50_000
SCOPE = {
    "type": "http",
    "method": "GET",
    "path": "/suggest",
    "raw_path": b"/suggest",
    "query_string": b"q=hary",
    "headers": [],
}
START = {"type": "http.response.start", "status": 200, "headers": [(b"content-type", b"x")]}
BODY = {"type": "http.response.body", "body": b"{}"}


async def _answered(scope: Any, receive: Any, send: Any) -> None:
    """An application that answers at once: all its time is its wrappers'."""
    await send(dict(START))
    await send(BODY)


async def _receive() -> dict:
    return {"type": "http.request", "body": b"", "more_body": False}


async def _dropped(message: Any) -> None:
    pass


def per_call_microseconds(app: Any) -> float:
    """The least processor time a call of the ASGI `app` took, of several rounds."""

    async def rounds() -> float:
        best = float("inf")
        for _ in range(WRAPPER_ROUNDS):
            start = time.process_time()
            for _ in range(WRAPPER_CALLS):
                await app(SCOPE, _receive, _dropped)
            best = min(best, time.process_time() - start)
        return best / WRAPPER_CALLS * 1e6

    return asyncio.run(rounds())


def wrapper_microseconds(index_path: str) -> dict[str, float]:
    """Microseconds a request spends in the wrappers of each kind of server."""
    with open(index_path, "rb") as file:
        index = PrefixSearch.from_bytes(file.read())
    first = served(index, index_info(index_path, index, "00000000"), None)
    figures = {"no wrapper": per_call_microseconds(_answered)}
    cached = with_cache_control(_answered)
    figures["Cache-Control (--no-metrics)"] = per_call_microseconds(cached)
    metrics = Metrics(ROUTES, first, index_path)
    figures["Cache-Control and metrics, one process"] = per_call_microseconds(
        metered(cached, metrics)
    )
    with shared_by_workers():
        shared = Metrics(ROUTES, first, index_path)
        figures["Cache-Control and metrics, forked workers' files"] = per_call_microseconds(
            metered(cached, shared)
        )
    return figures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--connections", type=int, default=64)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    args = parser.parse_args()

    words = word_data.read_words("english")
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        index_path, _ = serve_bench.english_index_file(words, scratch)
        paths = serve_bench.request_paths("/suggest", words)
        paths_file = os.path.join(scratch, "suggest.txt")
        with open(paths_file, "w") as file:
            file.write("\n".join(paths) + "\n")
        print("Processor microseconds per request in the wrappers (least of each):\n")
        print("| wrappers | µs a request |\n|---|---|")
        for name, microseconds in wrapper_microseconds(index_path).items():
            print(f"| {name} | {microseconds:.2f} |")
        print()
        print(f"{args.seconds} s per run, {args.connections} connections, /suggest\n")
        print("| workers | round | " + " | ".join(f"{m} req/s | p50 ms" for m in MODES) + " |")
        print("|---|---|---|---|---|---|")
        summary = []
        for workers in args.workers:
            ports = {mode: serve_bench.free_port() for mode in MODES}
            servers = {
                mode: serve_bench.start_server(index_path, ports[mode], workers, (mode,))
                for mode in MODES
            }
            rates: dict[str, list[float]] = {mode: [] for mode in MODES}
            try:
                for mode in MODES:  # a warm-up, not reported
                    serve_bench.run_wrk(ports[mode], args.connections, 5, paths_file)
                for number in range(args.rounds):
                    cells = []
                    for mode in MODES:
                        figures = serve_bench.run_wrk(
                            ports[mode], args.connections, args.seconds, paths_file
                        )
                        rate = figures["requests"] / figures["seconds"]
                        rates[mode].append(rate)
                        cells.append(f"{rate:,.0f} | {figures['p50_ms']:.2f}")
                        failed |= figures["status_5xx"] > 0 or figures["socket_errors"] > 0
                    print(f"| {workers} | {number + 1} | " + " | ".join(cells) + " |", flush=True)
            finally:
                for server in servers.values():
                    server.send_signal(signal.SIGTERM)
                    server.wait(timeout=60)
            means = {mode: sum(rates[mode]) / len(rates[mode]) for mode in MODES}
            cost = 1 - means["--metrics"] / means["--no-metrics"]
            summary.append(
                f"| {workers} | {means['--metrics']:,.0f} | {means['--no-metrics']:,.0f} "
                f"| {cost:+.1%} |"
            )
    print("\n| workers | with metrics req/s | without req/s | cost |")
    print("|---|---|---|---|")
    print("\n".join(summary))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
