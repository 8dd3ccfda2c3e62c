"""The server's ASGI application: the search page and its JSON API over one index.

Queries run on Starlette's thread pool, off the event loop's thread: the index
releases the interpreter lock while it searches, so a slow query holds up
neither the other queries nor the loop. A GET of /suggest is answered in
front of Starlette (`suggest_route`), its quick queries on the loop itself.
"""

from __future__ import annotations

import importlib.resources
from typing import Any, Callable, Mapping

from _kelnor import PrefixSearch
from starlette.applications import Starlette
from starlette.concurrency import run_in_threadpool
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import HTMLResponse, JSONResponse, Response
from starlette.routing import Route

from kelnor.index_failure import DamagedIndexError
from kelnor.server.catalogue import Catalogue
from kelnor.server.metrics import query_observers
from kelnor.server.openapi import description
from kelnor.server.operations import Operations, metrics_of, operate
from kelnor.server.params import MAX_DIST_LIMIT, MAX_RESULTS, BadRequest, Parameters
from kelnor.server.reloader import ReloadPlan, Reloader, reloading
from kelnor.server.served_index import IndexInfo, Served, served
from kelnor.server.suggest_route import DEFAULT_LIMIT, refused, suggestions, with_quick_suggest
from kelnor.server.timed_query import timed


def page_html() -> str:
    """The search page, a data file of this package."""
    return (importlib.resources.files(__package__) / "page.html").read_text(encoding="utf-8")


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


def _error(status: int, reason: str, headers: Mapping[str, str] | None = None) -> JSONResponse:
    return JSONResponse({"error": reason}, status_code=status, headers=headers)


async def _refused(_: Request, error: Exception) -> Response:
    assert isinstance(error, (BadRequest, DamagedIndexError))
    status, content = refused(error)
    return JSONResponse(content, status_code=status)


async def _http_error(_: Request, error: Exception) -> Response:
    assert isinstance(error, HTTPException)
    # With the error's own headers: a 405 names the methods allowed (Allow).
    return _error(error.status_code, error.detail, error.headers)


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
    metrics = metrics_of(operations, now(), info.path)
    index_time = query_observers(metrics)

    async def search_page(_: Request) -> Response:
        return HTMLResponse(page)

    async def suggest(request: Request) -> Response:
        # A GET is answered by with_quick_suggest before it gets here.
        answered = await suggestions(request.scope["query_string"], now(), index_time["suggest"])
        return JSONResponse(answered)

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
            timed(
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
                timed(
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

    described = description(with_metrics=metrics is not None)

    async def openapi(_: Request) -> Response:
        return JSONResponse(described)

    routes = [
        Route("/", search_page),
        Route("/suggest", suggest),
        Route("/videos", videos),
        Route("/search", search),
        Route("/health", health_report),
        Route("/openapi.json", openapi),
    ]
    handlers: dict[Any, Callable[[Request, Exception], Any]] = {
        BadRequest: _refused,
        HTTPException: _http_error,
        DamagedIndexError: _refused,
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
    # The first middleware added is the innermost: inside the operators' wrappers.
    app.add_middleware(with_quick_suggest, now=now, observe=index_time["suggest"])
    operate(app, operations, metrics, reloader)
    return app
