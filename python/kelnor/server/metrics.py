"""The server's counts and timings, served at /metrics in the Prometheus text format.

Requests are counted and timed by `metered`, a plain ASGI wrapper (no
per-request objects but its one `send` closure, `answered`) whose labelled
series are looked up once per route and status and then kept. Forked workers share one
port, so their figures are summed through prometheus_client's multiprocess
mode: `shared_by_workers` gives the supervisor a private directory of
per-process files, which /metrics in any worker reads whole.
"""

from __future__ import annotations

import os
import shutil
import tempfile
from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any, Callable, Optional

from prometheus_client import (
    CONTENT_TYPE_LATEST,
    CollectorRegistry,
    Counter,
    Gauge,
    Histogram,
    generate_latest,
    values,
)
from prometheus_client.multiprocess import MultiProcessCollector, mark_process_dead
from starlette.requests import Request
from starlette.responses import Response

from kelnor.server.answered import ASGIApp, Scope, when_answered
from kelnor.server.served_index import Served

Observer = Callable[[float], None]

_SHARED_DIRECTORY = "PROMETHEUS_MULTIPROC_DIR"

# A request takes from a tenth of a millisecond (a short query on loopback)
# to a second (a stuck one); a query inside the index takes microseconds.
REQUEST_BUCKETS = (
    0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0
)
INDEX_BUCKETS = (0.00001, 0.000025, 0.00005, *REQUEST_BUCKETS)

# Any other path is counted as "other": a client choosing paths must not
# choose how many series the server keeps.
OTHER_ROUTE = "other"
QUERY_KINDS = ("suggest", "videos", "search")
# What the server refuses below the application (`request_head_limits`).
REFUSALS = ("not_http", "head_timeout", "head_too_large", "too_many", "unread_answers")


def _file_bytes(path: str | None) -> int:
    """The size of the index file at `path`; 0 for None, an index not read
    from a file (the demo's), whose image would have to be copied to be
    measured."""
    if path is None:
        return 0
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


class Metrics:
    """The figures of one application, in a registry of their own (several
    applications may live in one process), or in the files of the workers'
    shared directory where `shared_by_workers` has set one up."""

    def __init__(self, routes: frozenset[str], served: Served, path: str | None) -> None:
        self._routes = routes
        self._path = path
        self.registry = CollectorRegistry()
        registry = self.registry
        self._requests = Counter(
            "kelnor_http_requests",
            "Requests answered, by route and status",
            ["route", "status"],
            registry=registry,
        )
        self._errors = Counter(
            "kelnor_http_errors",
            "Requests answered with a 4xx or 5xx status, by route and status class",
            ["route", "status_class"],
            registry=registry,
        )
        self._latency = Histogram(
            "kelnor_http_request_duration_seconds",
            "Time from a request's arrival at the application to the sending of its answer's "
            "last part, by route",
            ["route"],
            buckets=REQUEST_BUCKETS,
            registry=registry,
        )
        query_seconds = Histogram(
            "kelnor_index_query_seconds",
            "Time spent inside the index answering a query, by query kind",
            ["kind"],
            buckets=INDEX_BUCKETS,
            registry=registry,
        )
        self.query_seconds = {kind: query_seconds.labels(kind) for kind in QUERY_KINDS}
        refusals = Counter(
            "kelnor_http_refusals",
            "Connections and requests refused before the application saw them, by reason",
            ["reason"],
            registry=registry,
        )
        self._refusals = {reason: refusals.labels(reason) for reason in REFUSALS}
        reloads = Counter(
            "kelnor_reloads",
            "Reloads of the index by a worker, by outcome",
            ["outcome"],
            registry=registry,
        )
        self._reloaded, self._refused = reloads.labels("succeeded"), reloads.labels("failed")
        # In the workers' files, the value set last by a live process.
        self._index_bytes = Gauge(
            "kelnor_index_bytes",
            "Size of the served index file (0 for an index not read from a file)",
            registry=registry,
            multiprocess_mode="livemostrecent",
        )
        self._index_terms = Gauge(
            "kelnor_index_terms",
            "Terms of the served index",
            registry=registry,
            multiprocess_mode="livemostrecent",
        )
        self._series: dict[tuple[str, int], tuple[Any, Any, Optional[Any]]] = {}
        self._serving(served)
        self._shared = _SHARED_DIRECTORY in os.environ

    def _serving(self, served: Served) -> None:
        self._index_bytes.set(_file_bytes(self._path))
        self._index_terms.set(served.health["terms"])

    def reloaded(self, fresh: Optional[Served]) -> None:
        """Counts a reload: `fresh` served, or None for a new file refused."""
        if fresh is None:
            self._refused.inc()
        else:
            self._reloaded.inc()
            self._serving(fresh)

    def refused(self, reason: str) -> None:
        """Counts a refusal for one of REFUSALS."""
        self._refusals[reason].inc()

    def _series_of(self, route: str, status: int) -> tuple[Any, Any, Optional[Any]]:
        error = None
        if status >= 400:
            error = self._errors.labels(route, f"{status // 100}xx")
        series = (self._requests.labels(route, str(status)), self._latency.labels(route), error)
        self._series[route, status] = series
        return series

    def answered(self, scope: Scope, status: int, seconds: float) -> None:
        """Counts the request of `scope` answered with `status` in `seconds`."""
        path = scope["path"]
        route = path if path in self._routes else OTHER_ROUTE
        series = self._series.get((route, status)) or self._series_of(route, status)
        series[0].inc()
        series[1].observe(seconds)
        if series[2] is not None:
            series[2].inc()

    def exposition(self) -> bytes:
        """Every figure in the text format: the workers' summed, where shared."""
        if not self._shared:
            return generate_latest(self.registry)
        registry = CollectorRegistry()
        MultiProcessCollector(registry)  # type: ignore[no-untyped-call]
        return generate_latest(registry)

    async def endpoint(self, _: Request) -> Response:
        return Response(self.exposition(), media_type=CONTENT_TYPE_LATEST)


def query_observers(metrics: Metrics | None) -> dict[str, Optional[Observer]]:
    """What each query kind tells the seconds it spent in the index: the
    histogram of `metrics`, or nothing without them."""
    if metrics is None:
        return dict.fromkeys(QUERY_KINDS)
    return {kind: series.observe for kind, series in metrics.query_seconds.items()}


def metered(app: ASGIApp, metrics: Metrics) -> ASGIApp:
    """`app`, counting and timing each HTTP request in `metrics`."""
    return when_answered(app, metrics.answered)


@contextmanager
def shared_by_workers() -> Iterator[None]:
    """While it lasts, the figures of every process forked from this one go
    to a private directory that /metrics sums, which is removed at its end."""
    directory = tempfile.mkdtemp(prefix="kelnor-metrics-")
    before_directory, before_values = os.environ.get(_SHARED_DIRECTORY), values.ValueClass
    os.environ[_SHARED_DIRECTORY] = directory
    # prometheus_client chooses its value class when it is first imported,
    # from the environment: this process chose before the directory existed.
    values.ValueClass = values.MultiProcessValue()  # type: ignore[no-untyped-call]
    try:
        yield
    finally:
        values.ValueClass = before_values
        if before_directory is None:
            del os.environ[_SHARED_DIRECTORY]
        else:
            os.environ[_SHARED_DIRECTORY] = before_directory
        shutil.rmtree(directory, ignore_errors=True)


def forget_worker(pid: int) -> None:
    """Drops the gauges of the exited worker `pid` from the shared figures
    (its counts stay: a sum over the server's life does not go back)."""
    if _SHARED_DIRECTORY in os.environ:
        mark_process_dead(pid)  # type: ignore[no-untyped-call]
