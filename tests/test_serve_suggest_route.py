"""GET /suggest answered in front of Starlette: the same bytes as Starlette's
route, its quick queries on the event loop and the others off it."""

from __future__ import annotations

import asyncio
import json
import threading
import types

import pytest

pytest.importorskip("starlette", reason="the serve extra is not installed")
pytest.importorskip("httpx", reason="Starlette's test client needs httpx")

import httpx  # noqa: E402

import kelnor  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402
from kelnor.server import Operations, create_app, index_info  # noqa: E402
from kelnor.server import timed_query  # noqa: E402
from kelnor.server.suggest_route import with_quick_suggest  # noqa: E402
from test_serve import BlockingIndex  # noqa: E402

INDEX = kelnor.build([("harry", 7, 3), ("harry potter", 8, 9), ("hare", 7, 2), ("été", 12, 5)])
INFO = index_info("/data/words.bin", INDEX, "0123abcd")
DAMAGED = PrefixSearch.from_bytes(bytes([1, 0, 1, 0, 1, 5, 1, 0, 0, 0, 0, 1, 0]))
LONGEST_INLINE = "a" * 32


async def exchange(app, paths: list[str]) -> list[tuple[int, list, bytes]]:
    transport = httpx.ASGITransport(app=app)
    async with httpx.AsyncClient(transport=transport, base_url="http://test") as client:
        origin = {"origin": "https://elsewhere"}
        answers = [await client.get(path, headers=origin) for path in paths]
    return [(a.status_code, a.headers.raw, a.content) for a in answers]


def without_front(app):
    app.user_middleware = [m for m in app.user_middleware if m.cls is not with_quick_suggest]
    return app


@pytest.mark.parametrize("index", [INDEX, DAMAGED], ids=["sound", "damaged"])
def test_the_front_answers_byte_for_byte_as_starlettes_route(index, monkeypatch):
    # Every query takes 0 ms, so that the two answers may be equal.
    monkeypatch.setattr(timed_query, "time", types.SimpleNamespace(perf_counter=lambda: 1.0))
    paths = [
        "/suggest?q=harry",
        "/suggest?q=harrry",  # no bound: the index's bound by length (1)
        "/suggest?q=harr%20potte",  # no bound: 2, on the thread pool
        "/suggest?q=%C3%A9t&max_dist=1&limit=1&complete=false&transpositions=0",
        "/suggest?q=hare&max_dist=3",
        f"/suggest?q={LONGEST_INLINE}a&max_dist=1",
        "/suggest",
        "/suggest?q=",
        "/suggest?q=a&max_dist=9",
        "/suggest?q=a&min_score=1",
        "/suggest?q=a&q=b",
        "/suggest?q=%ff",
    ]
    operations = Operations(metrics=True, cors_origins=("*",))
    front = create_app(index, index_info("i", INDEX, "0"), operations=operations)
    plain = without_front(create_app(index, index_info("i", INDEX, "0"), operations=operations))
    answered = asyncio.run(exchange(front, paths))
    assert answered == asyncio.run(exchange(plain, paths))
    assert {status for status, _, _ in answered} == ({200, 400} if index is INDEX else {500, 400})


@pytest.mark.parametrize("q", ["hxr", "harrry", "harr potte", "hxrry pottxr"])
def test_without_max_dist_the_index_bounds_q_by_its_length(q):
    [(status, _, body)] = asyncio.run(exchange(create_app(INDEX, INFO), [f"/suggest?q={q}"]))
    assert status == 200
    assert [tuple(s.values()) for s in json.loads(body)["suggestions"]] == INDEX.suggest(q)


class RecordingIndex:
    """Stands for an index, noting the thread each suggestion runs on."""

    def __init__(self) -> None:
        self.threads: list[int] = []

    def _is_folded(self) -> bool:
        return False

    def suggest(self, *args, **keywords):
        self.threads.append(threading.get_ident())
        return INDEX.suggest(*args, **keywords)


@pytest.mark.parametrize(
    "query, on_the_loop",
    [
        ("q=a&max_dist=0", True),
        ("q=a&max_dist=1&limit=100", True),
        (f"q={LONGEST_INLINE}&max_dist=1", True),
        ("q=harrypo", True),  # no bound: 1 edit for 7 code points
        ("q=harrypot", False),  # no bound: 2 edits from 8
        (f"q={LONGEST_INLINE}a&max_dist=1", False),
        ("q=a&max_dist=2", False),
        ("q=a&max_dist=3", False),
    ],
)
def test_only_quick_suggestions_run_on_the_loop(query, on_the_loop):
    recording = RecordingIndex()
    app = create_app(recording, INFO)  # type: ignore[arg-type]
    [(status, _, _)] = asyncio.run(exchange(app, ["/suggest?" + query]))
    assert status == 200
    assert (recording.threads == [threading.get_ident()]) == on_the_loop


@pytest.mark.parametrize("query", ["q=harrypot", "q=a&max_dist=2", f"q={LONGEST_INLINE}a"])
def test_a_slow_suggestion_stalls_neither_the_loop_nor_the_others(query):
    slow = BlockingIndex()
    app = create_app(slow, INFO)  # type: ignore[arg-type]

    async def scenario() -> None:
        transport = httpx.ASGITransport(app=app)
        async with httpx.AsyncClient(transport=transport, base_url="http://test") as client:
            pending = asyncio.ensure_future(client.get("/suggest?" + query))
            await asyncio.get_running_loop().run_in_executor(None, slow.entered.wait, 10)
            health = await asyncio.wait_for(client.get("/health"), 5)
            assert health.status_code == 200 and not pending.done()
            slow.release.set()
            assert (await pending).json()["suggestions"] == [
                {"term": "harry", "distance": 1, "count": 3}
            ]

    asyncio.run(scenario())
