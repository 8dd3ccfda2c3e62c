"""What an application adds for the people who run it, beside its API: the
favicon, /metrics, the access log, CORS and Cache-Control, each chosen by an
`Operations`."""

from __future__ import annotations

from typing import NamedTuple, Optional, TextIO

from starlette.applications import Starlette
from starlette.routing import Route

from kelnor.server.access_log import logged
from kelnor.server.favicon import favicon
from kelnor.server.http_headers import with_cache_control, with_cors
from kelnor.server.metrics import Metrics, metered
from kelnor.server.reloader import Reloader
from kelnor.server.served_index import Served


# The paths counted under their own name in /metrics.
ROUTES = frozenset(
    ("/", "/suggest", "/videos", "/search", "/health", "/openapi.json", "/favicon.ico", "/metrics")
)


class Operations(NamedTuple):
    """What an application offers its operators: /metrics (`metrics`), a line
    per request written to `access_log`, and the CORS headers for the
    `cors_origins` (`*`: any origin; none: no CORS headers)."""

    metrics: bool = True
    access_log: Optional[TextIO] = None
    cors_origins: tuple[str, ...] = ()


def metrics_of(operations: Operations, first: Served, path: str | None) -> Metrics | None:
    """The figures of an application that serves `first`, read from the index
    file `path` (None: from no file), if `operations` ask for them."""
    return Metrics(ROUTES, first, path) if operations.metrics else None


def operate(
    app: Starlette, operations: Operations, metrics: Metrics | None, reloader: Reloader | None
) -> None:
    """Adds the favicon and `operations` to `app`, with its `metrics` and its
    `reloader` (if any). The first middleware added is the innermost."""
    app.router.routes.append(Route("/favicon.ico", favicon))
    if operations.cors_origins:
        app.add_middleware(with_cors, origins=operations.cors_origins)
    app.add_middleware(with_cache_control)
    if operations.access_log is not None:
        app.add_middleware(logged, log=operations.access_log)
    if metrics is not None:
        app.router.routes.append(Route("/metrics", metrics.endpoint))
        app.add_middleware(metered, metrics=metrics)
        app.state.metrics = metrics
        if reloader is not None:
            reloader.on_reload = metrics.reloaded
