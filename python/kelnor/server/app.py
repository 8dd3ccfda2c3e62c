"""The server's ASGI application: the search page and its JSON API over one index.

Queries run on Starlette's thread pool, off the event loop's thread: the index
releases the interpreter lock while it searches, so a slow query holds up
neither the other queries nor the loop.
"""

from __future__ import annotations

import importlib.resources
import time
from typing import Any, Callable, TypeVar

from _kelnor import PrefixSearch
from starlette.applications import Starlette
from starlette.concurrency import run_in_threadpool
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import HTMLResponse, JSONResponse, Response
from starlette.routing import Route

from kelnor.index_failure import DamagedIndexError, answer
from kelnor.server.catalogue import Catalogue
from kelnor.server.metrics import Observer, query_observers
from kelnor.server.openapi import DESCRIPTION
from kelnor.server.operations import Operations, metrics_of, operate
from kelnor.server.params import MAX_DIST_LIMIT, MAX_RESULTS, BadRequest, Parameters
from kelnor.server.reloader import ReloadPlan, Reloader, reloading
from kelnor.server.served_index import IndexInfo, Served, served

T = TypeVar("T")

DEFAULT_LIMIT = 10


def page_html() -> str:
    """The search page, a data file of this package."""
    return (importlib.resources.files(__package__) / "page.html").read_text(encoding="utf-8")


def _timed(query: Callable[[], T], observe: Observer | None) -> Callable[[], tuple[T, float]]:
    """`query` as a call that also gives the milliseconds it took, and tells
    `observe` (if any) the seconds it took."""

    def run() -> tuple[T, float]:
        start = time.perf_counter()
        result = answer(query)
        seconds = time.perf_counter() - start
        if observe is not None:
            observe(seconds)
        return result, round(seconds * 1000, 3)

    return run


# Without min_score, /videos keeps the videos scoring at least this share of
# the best one. The index's own default is an absolute 0.01, which cuts every
# video where the counts of the matched terms are spread over many videos
# (each then holds a small share), and the page would show suggestions beside
# an empty video panel.
RELATIVE_CUT = 0.01


def best_videos(ranked: list[tuple[str, float]]) -> list[tuple[str, float]]:
    """The videos of `ranked` (best first) scoring at least RELATIVE_CUT of the best."""
    if not ranked:
        return ranked
    cut = ranked[0][1] * RELATIVE_CUT
    return [(video, score) for video, score in ranked if score >= cut]


def _error(status: int, reason: str) -> JSONResponse:
    return JSONResponse({"error": reason}, status_code=status)


async def _bad_request(_: Request, error: Exception) -> Response:
    return _error(400, str(error))


async def _http_error(_: Request, error: Exception) -> Response:
    assert isinstance(error, HTTPException)
    return _error(error.status_code, error.detail)


async def _damaged(_: Request, error: Exception) -> Response:
    return _error(500, f"the index is damaged ({error})")


async def _unexpected(_: Request, error: Exception) -> Response:
    # uvicorn logs the traceback; the client learns only that the fault is ours.
    return _error(500, "internal server error")


def _fixed(answering: Served) -> Callable[[], Served]:
    return lambda: answering


def create_app(
    index: PrefixSearch,
    info: IndexInfo,
    catalogue: Catalogue | None = None,
    reload: ReloadPlan | None = None,
    operations: Operations = Operations(),
) -> Starlette:
    """The application answering from `index`, whose /health reports `info`.
    For an index of folded terms, what is typed (`q`) is folded likewise.
    With a `catalogue`, each video answered carries its row there. With a
    `reload` plan, the index and catalogue are served anew when their files
    change (`reloader`); each request answers from what was served as it began.
    `operations` add /metrics, an access log and CORS (`operations`)."""
    page = page_html()
    # Nothing here holds the first Served once a reload has replaced it.
    reloader = None if reload is None else Reloader(served(index, info, catalogue), reload)
    now = _fixed(served(index, info, catalogue)) if reloader is None else reloader.served_now
    metrics = metrics_of(operations, now(), info.source)
    index_time = query_observers(metrics)

    async def search_page(_: Request) -> Response:
        return HTMLResponse(page)

    async def suggest(request: Request) -> Response:
        params = Parameters(
            request.scope["query_string"], ("q", "max_dist", "limit", "complete", "transpositions")
        )
        answering = now()
        q = answering.lookup(params.text("q"))
        max_dist = params.whole_number("max_dist", 0, MAX_DIST_LIMIT)
        limit = params.whole_number("limit", 0, MAX_RESULTS)
        complete = params.flag("complete", True)
        transpositions = params.flag("transpositions", True)
        suggestions, took_ms = await run_in_threadpool(
            _timed(
                lambda: answering.prefix_search.suggest(
                    q,
                    max_dist,
                    DEFAULT_LIMIT if limit is None else limit,
                    complete=complete,
                    transpositions=transpositions,
                ),
                index_time["suggest"],
            )
        )
        found = [
            {"term": term, "distance": distance, "count": count}
            for term, distance, count in suggestions
        ]
        return JSONResponse({"suggestions": found, "took_ms": took_ms})

    async def videos(request: Request) -> Response:
        params = Parameters(
            request.scope["query_string"], ("q", "max_dist", "limit", "min_score")
        )
        answering = now()
        q = answering.lookup(params.text("q"))
        max_dist = params.whole_number("max_dist", 0, MAX_DIST_LIMIT)
        limit = params.whole_number("limit", 0, MAX_RESULTS)
        min_score = params.fraction("min_score")
        ranked, took_ms = await run_in_threadpool(
            _timed(
                lambda: answering.prefix_search.fuzzy_match_video(
                    q,
                    1 if max_dist is None else max_dist,
                    DEFAULT_LIMIT if limit is None else limit,
                    min_score=0.0 if min_score is None else min_score,
                ),
                index_time["videos"],
            )
        )
        if min_score is None:
            ranked = best_videos(ranked)
        found = [answering.joined({"id": video, "score": score}) for video, score in ranked]
        return JSONResponse({"videos": found, "took_ms": took_ms})

    async def search(request: Request) -> Response:
        params = Parameters(request.scope["query_string"], ("q", "max_dist", "limit"))
        answering = now()
        q = answering.lookup(params.text("q"))
        max_dist = params.whole_number("max_dist", 0, MAX_DIST_LIMIT)
        limit = params.whole_number("limit", 0, MAX_RESULTS)
        try:
            ranked, took_ms = await run_in_threadpool(
                _timed(
                    lambda: answering.prefix_search.search(
                        q, max_dist, DEFAULT_LIMIT if limit is None else limit
                    ),
                    index_time["search"],
                )
            )
        except ValueError as refusal:  # too many words
            raise BadRequest(str(refusal)) from None
        found = [
            answering.joined({"id": video, "words": words, "score": score})
            for video, words, score in ranked
        ]
        return JSONResponse({"videos": found, "took_ms": took_ms})

    async def health_report(_: Request) -> Response:
        return JSONResponse(now().health)

    async def openapi(_: Request) -> Response:
        return JSONResponse(DESCRIPTION)

    routes = [
        Route("/", search_page),
        Route("/suggest", suggest),
        Route("/videos", videos),
        Route("/search", search),
        Route("/health", health_report),
        Route("/openapi.json", openapi),
    ]
    handlers: dict[Any, Callable[[Request, Exception], Any]] = {
        BadRequest: _bad_request,
        HTTPException: _http_error,
        DamagedIndexError: _damaged,
        Exception: _unexpected,
    }
    app = Starlette(
        routes=routes,
        exception_handlers=handlers,
        lifespan=None if reloader is None else (lambda _: reloading(reloader)),
    )
    # A path with a slash too many is not found: a redirect to the path
    # without it would be built from the request's Host header, which the
    # client chooses.
    app.router.redirect_slashes = False
    app.state.reloader = reloader  # for whoever would reload it at once
    operate(app, operations, metrics, reloader)
    return app
