"""Where a /suggest request's time goes inside one server process, without the network.

Builds the index of bench/serve_bench.py (american-english-huge, seeded
misspelt words at max_dist=1) and times, per request, each layer on its own
and then the whole application driven with plain ASGI calls in one event loop
(uvloop where installed, as `kelnor serve` runs): the index call, the checks
of the parameters, the hop to the thread pool and back, the JSON answer, and
the application with and without its operators' wrappers (/metrics, the
Cache-Control header). What the HTTP server adds (reading the request,
writing the answer) is the rest of what bench/serve_bench.py measures.

Usage: PYTHONPATH=<build dir> python3 bench/serve_profile.py [--requests N] [--cprofile]
"""

from __future__ import annotations

import argparse
import asyncio
import cProfile
import os
import pstats
import sys
import time
import urllib.parse
from typing import Any, Awaitable, Callable, List

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))

import word_data  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402
from starlette.concurrency import run_in_threadpool  # noqa: E402
from starlette.responses import JSONResponse  # noqa: E402

from kelnor.server import Operations, create_app, index_info  # noqa: E402
from kelnor.server.params import Parameters  # noqa: E402

SUGGEST_PARAMETERS = ("q", "max_dist", "limit", "complete", "transpositions")


def per_request_us(run: Callable[[int], None], count: int) -> float:
    """Microseconds per request of `run(count)`, the best of three."""
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        run(count)
        best = min(best, time.perf_counter() - start)
    return best / count * 1e6


def scope_of(query_string: bytes) -> dict[str, Any]:
    return {
        "type": "http",
        "asgi": {"version": "3.0"},
        "http_version": "1.1",
        "method": "GET",
        "scheme": "http",
        "path": "/suggest",
        "raw_path": b"/suggest",
        "query_string": query_string,
        "root_path": "",
        "headers": [(b"host", b"127.0.0.1:8000"), (b"accept", b"*/*")],
        "client": ("127.0.0.1", 50000),
        "server": ("127.0.0.1", 8000),
    }


async def drive(app: Any, query_strings: List[bytes], count: int) -> None:
    """`count` requests to `app`, one after another, as an HTTP server would make them."""

    async def receive() -> dict[str, Any]:
        return {"type": "http.request", "body": b"", "more_body": False}

    async def send(message: dict[str, Any]) -> None:
        if message["type"] == "http.response.start" and message["status"] != 200:
            raise SystemExit(f"answered {message['status']}")

    for number in range(count):
        await app(scope_of(query_strings[number % len(query_strings)]), receive, send)


def in_loop(
    loop: asyncio.AbstractEventLoop, make: Callable[[int], Awaitable[None]]
) -> Callable[[int], None]:
    return lambda count: loop.run_until_complete(make(count))


def new_loop() -> asyncio.AbstractEventLoop:
    try:
        import uvloop

        return uvloop.new_event_loop()
    except ImportError:
        return asyncio.new_event_loop()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--cprofile", action="store_true", help="also print the top of a profile")
    args = parser.parse_args()

    words = word_data.read_words("english")
    index = PrefixSearch.from_internal_data_v2(*word_data.index_data(words).args())
    info = index_info("english.bin", index, "00000000")
    queries = word_data.queries(words, 5000, seed=20)
    query_strings = [urllib.parse.urlencode({"q": q, "max_dist": 1}).encode() for q in queries]
    answers = [index.suggest(q, 1, 10) for q in queries[:100]]
    loop = new_loop()
    count = args.requests

    def index_calls(n: int) -> None:
        for number in range(n):
            index.suggest(queries[number % len(queries)], 1, 10)

    def parameters(n: int) -> None:
        for number in range(n):
            params = Parameters(query_strings[number % len(query_strings)], SUGGEST_PARAMETERS)
            params.text("q"), params.whole_number("max_dist", 0, 3)
            params.whole_number("limit", 0, 100), params.flag("complete", True)
            params.flag("transpositions", True)

    async def hops(n: int) -> None:
        for _ in range(n):
            await run_in_threadpool(int)

    def json_answers(n: int) -> None:
        for number in range(n):
            found = [
                {"term": t, "distance": d, "count": c} for t, d, c in answers[number % len(answers)]
            ]
            JSONResponse({"suggestions": found, "took_ms": 0.012}).body

    layers = [
        ("index call (suggest, max_dist=1)", index_calls),
        ("parameters checked", parameters),
        ("thread pool hop (run_in_threadpool of a no-op)", in_loop(loop, hops)),
        ("JSON answer (JSONResponse)", json_answers),
    ]
    apps = [
        ("whole application, metrics on (the default)", create_app(index, info)),
        (
            "whole application, metrics off",
            create_app(index, info, operations=Operations(metrics=False)),
        ),
    ]
    print(f"{count:,} requests of /suggest, seeded misspelt words at max_dist=1\n")
    print("| layer | µs per request |")
    print("|---|---|")
    for name, run in layers:
        print(f"| {name} | {per_request_us(run, count):.1f} |")
    for name, app in apps:
        run = in_loop(loop, lambda n, app=app: drive(app, query_strings, n))
        print(f"| {name} | {per_request_us(run, count):.1f} |")
    if args.cprofile:
        profile = cProfile.Profile()
        profile.enable()
        loop.run_until_complete(drive(apps[0][1], query_strings, count))
        profile.disable()
        pstats.Stats(profile).sort_stats("tottime").print_stats(25)


if __name__ == "__main__":
    main()
