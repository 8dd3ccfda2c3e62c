"""What /metrics costs a request: wrk against /suggest with and without it.

Serves the index of serve_bench.py (american-english-huge) from two servers
at once, `kelnor serve --metrics` and `--no-metrics`, with the same
--workers, and drives /suggest on each in turn (--rounds times, --seconds a
run, after a warm-up of each), so that both meet the same load of the
machine. Reports each run's requests/s and p50, the mean of each, and the
cost of the metrics: the share of requests per second lost with them.

On a shared machine that figure moves by more than the cost, so the script
first measures it without the network: the processor time (of every thread)
a /suggest request takes through the application itself, called as uvicorn
calls it, with and without the metrics, in alternating rounds.

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

from kelnor.server import Operations, create_app, index_info  # noqa: E402

MODES = ("--metrics", "--no-metrics")
IN_PROCESS_ROUNDS = 5
IN_PROCESS_REQUESTS = 4000


async def _ask(app: Any, path: str) -> None:
    """`path` asked of the ASGI `app` as uvicorn asks it, the answer dropped."""
    target, _, query = path.partition("?")
    scope = {
        "type": "http",
        "asgi": {"version": "3.0"},
        "http_version": "1.1",
        "method": "GET",
        "scheme": "http",
        "path": target,
        "raw_path": target.encode(),
        "query_string": query.encode(),
        "root_path": "",
        "headers": [(b"host", b"127.0.0.1")],
        "client": ("127.0.0.1", 40000),
        "server": ("127.0.0.1", 8000),
    }

    async def receive() -> dict:
        return {"type": "http.request", "body": b"", "more_body": False}

    async def send(message: dict) -> None:
        pass

    await app(scope, receive, send)


def in_process_microseconds(image: bytes, paths: list[str]) -> dict[str, list[float]]:
    """Processor microseconds per request of each mode, a figure a round."""
    index = PrefixSearch.from_bytes(image)
    info = index_info("english.bin", index, "00000000")
    apps = {
        mode: create_app(index, info, operations=Operations(metrics=mode == "--metrics"))
        for mode in MODES
    }
    times: dict[str, list[float]] = {mode: [] for mode in MODES}

    async def rounds() -> None:
        for number in range(IN_PROCESS_ROUNDS + 1):
            for mode in MODES:
                start = time.process_time()
                for path in paths[:IN_PROCESS_REQUESTS]:
                    await _ask(apps[mode], path)
                if number:  # the first round warms up
                    spent = time.process_time() - start
                    times[mode].append(spent / IN_PROCESS_REQUESTS * 1e6)

    asyncio.run(rounds())
    return times


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--connections", type=int, default=64)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    args = parser.parse_args()

    words = word_data.read_words("english")
    image = PrefixSearch.from_internal_data_v2(*word_data.index_data(words).args()).to_bytes()
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        index_path = os.path.join(scratch, "english.bin")
        with open(index_path, "wb") as file:
            file.write(image)
        paths = serve_bench.request_paths("/suggest", words)
        paths_file = os.path.join(scratch, "suggest.txt")
        with open(paths_file, "w") as file:
            file.write("\n".join(paths) + "\n")
        times = in_process_microseconds(image, paths)
        print("Processor microseconds per /suggest request through the application:\n")
        print("| " + " | ".join(MODES) + " | cost |\n|---|---|---|")
        for with_metrics, without in zip(times["--metrics"], times["--no-metrics"]):
            print(f"| {with_metrics:.1f} | {without:.1f} | {with_metrics - without:+.1f} µs |")
        best = {mode: min(times[mode]) for mode in MODES}
        print(
            f"\nfastest round of each: {best['--metrics']:.1f} and {best['--no-metrics']:.1f} µs "
            f"({best['--metrics'] / best['--no-metrics'] - 1:+.1%})\n"
        )
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
