"""/suggest, the request a search box sends at every key, answered by a plain
ASGI function in front of Starlette's router.

A suggestion costs the index microseconds; Starlette's routing, request and
response objects and the hop to the thread pool and back cost many times
that. So a GET of /suggest is answered here: its parameters checked as every
endpoint checks them, the query run on the event loop's thread when its cost
is bounded small (`runs_inline`) and on the thread pool otherwise, and the
answer written as the bytes Starlette's JSONResponse would write. Every other
request (another path, a HEAD, a POST) goes on to Starlette. The wrapper sits
inside the operators' wrappers, so /metrics, the access log, Cache-Control and
CORS see its answers as any other.
"""

from __future__ import annotations

import json
from typing import Any, Callable, NamedTuple, Optional

from starlette.concurrency import run_in_threadpool

from kelnor.index_failure import DamagedIndexError
from kelnor.server.answered import ASGIApp, Receive, Scope, Send
from kelnor.server.metrics import Observer
from kelnor.server.params import MAX_DIST_LIMIT, MAX_RESULTS, BadRequest, Parameters
from kelnor.server.served_index import Served
from kelnor.server.timed_query import timed

DEFAULT_LIMIT = 10
SUGGEST_PARAMETERS = ("q", "max_dist", "limit", "complete", "transpositions")

# A query within one edit of a text of at most this many code points runs on
# the event loop's thread. On the served word list (348k words) such a query
# takes 3 to 25 µs at the default limit of 10, and at most about 0.35 ms at a
# limit of 100 for a text of one or two characters (bench/RESULTS.md,
# "Serving"), against some 50 µs of the loop's time for the hop to the
# thread pool and back. Two or three edits walk a large part of the index,
# up to several milliseconds, so such a query goes to the thread pool, where
# it holds up neither the loop nor the other requests.
INLINE_MAX_DIST = 1
INLINE_MAX_LENGTH = 32


class SuggestQuery(NamedTuple):
    """A /suggest request's checked parameters, `q` as the index writes its terms."""

    q: str
    max_dist: Optional[int]  # None: the index's bound for the length of q
    limit: int
    complete: bool
    transpositions: bool


def suggest_query(query_string: bytes, answering: Served) -> SuggestQuery:
    """The query a /suggest request's `query_string` asks of `answering`;
    raises BadRequest with the reason the client reads."""
    params = Parameters(query_string, SUGGEST_PARAMETERS)
    q = answering.lookup(params.text("q"))
    max_dist = params.whole_number("max_dist", 0, MAX_DIST_LIMIT)
    limit = params.whole_number("limit", 0, MAX_RESULTS)
    return SuggestQuery(
        q,
        max_dist,
        DEFAULT_LIMIT if limit is None else limit,
        params.flag("complete", True),
        params.flag("transpositions", True),
    )


def runs_inline(query: SuggestQuery) -> bool:
    """Whether `query` is quick enough to run on the event loop's thread."""
    if len(query.q) > INLINE_MAX_LENGTH:
        return False
    if query.max_dist is None:
        # The index bounds a text of fewer than 8 code points by 0 or 1 edit
        # when no bound is asked, a longer one by 2.
        return len(query.q) < 8
    return query.max_dist <= INLINE_MAX_DIST


async def suggestions(
    query_string: bytes, answering: Served, observe: Optional[Observer]
) -> dict[str, Any]:
    """The answer of /suggest to `query_string` from `answering`, telling
    `observe` the seconds spent in the index."""
    query = suggest_query(query_string, answering)
    index = answering.prefix_search

    run = timed(
        lambda: index.suggest(
            query.q,
            query.max_dist,
            query.limit,
            complete=query.complete,
            transpositions=query.transpositions,
        ),
        observe,
    )
    found, took_ms = run() if runs_inline(query) else await run_in_threadpool(run)
    return {
        "suggestions": [
            {"term": term, "distance": distance, "count": count} for term, distance, count in found
        ],
        "took_ms": took_ms,
    }


def json_bytes(content: Any) -> bytes:
    """`content` written as Starlette's JSONResponse writes it."""
    return json.dumps(
        content, ensure_ascii=False, allow_nan=False, indent=None, separators=(",", ":")
    ).encode("utf-8")


def refused(error: BadRequest | DamagedIndexError) -> tuple[int, dict[str, str]]:
    """The status and answer of a request that raised `error`: the client's
    fault (400) or the index's (500), with the reason."""
    if isinstance(error, BadRequest):
        return 400, {"error": str(error)}
    return 500, {"error": f"the index is damaged ({error})"}


def with_quick_suggest(
    app: ASGIApp, now: Callable[[], Served], observe: Optional[Observer]
) -> ASGIApp:
    """`app`, with each GET of /suggest answered from `now()` as it begins."""

    async def front(scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http" or scope["path"] != "/suggest" or scope["method"] != "GET":
            await app(scope, receive, send)
            return
        try:
            status, content = 200, await suggestions(scope["query_string"], now(), observe)
        except (BadRequest, DamagedIndexError) as error:
            status, content = refused(error)
        body = json_bytes(content)
        headers = [(b"content-length", b"%d" % len(body)), (b"content-type", b"application/json")]
        await send({"type": "http.response.start", "status": status, "headers": headers})
        await send({"type": "http.response.body", "body": body})

    return front
