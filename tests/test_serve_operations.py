"""`kelnor serve` for its operators: /metrics (one process and forked
workers), the access log, CORS, Cache-Control and the favicon."""

from __future__ import annotations

import io
import logging
import os
import re
import signal
import subprocess
import sys
import urllib.request
import xml.etree.ElementTree as ElementTree
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

pytest.importorskip("starlette", reason="the serve extra is not installed")
pytest.importorskip("prometheus_client", reason="the serve extra is not installed")

from prometheus_client.parser import text_string_to_metric_families  # noqa: E402
from serve_process import get_json, running_server  # noqa: E402
from starlette.testclient import TestClient  # noqa: E402
from test_cli import run  # noqa: E402
from test_serve import read_line_containing, worker_pids  # noqa: E402
from test_serve_reload import OLD, NEW, replace, served_app  # noqa: E402

import kelnor  # noqa: E402
from kelnor.server import (  # noqa: E402
    Operations,
    create_app,
    file_index_info,
    index_info,
)

INDEX = kelnor.build([("harry", 7, 3), ("harold", 9, 1), ("hare", 8, 6)])
INFO = index_info("no such file", INDEX, "0123abcd")
ORIGIN = "https://example.org"
REQUESTS = 40
# A line of the access log.
LINE = re.compile(r"(?P<method>[A-Z]+) (?P<path>\S+) (?P<status>\d{3}) \d+\.\d{3}\n")


def client(operations: Operations = Operations()) -> TestClient:
    return TestClient(create_app(INDEX, INFO, operations=operations))


def samples(exposition: str) -> dict[tuple[str, frozenset], float]:
    """Each sample of a /metrics answer by its name and labels."""
    return {
        (sample.name, frozenset(sample.labels.items())): sample.value
        for family in text_string_to_metric_families(exposition)
        for sample in family.samples
    }


def sample(found: dict, name: str, **labels: str) -> float:
    return found.get((name, frozenset(labels.items())), 0.0)


# ---------------------------------------------------------------- /metrics


@pytest.mark.parametrize(
    "path, route, status, kind",
    [
        ("/suggest?q=hary", "/suggest", "200", "suggest"),
        ("/videos?q=hary", "/videos", "200", "videos"),
        ("/search?q=hary+hare", "/search", "200", "search"),
        ("/suggest?q=", "/suggest", "400", None),
        ("/health", "/health", "200", None),
        ("/no/such/path", "other", "404", None),
    ],
)
def test_metrics_count_and_time_each_request_by_route(path, route, status, kind):
    asking = client()
    asking.get(path)
    found = samples(asking.get("/metrics").text)
    assert sample(found, "kelnor_http_requests_total", route=route, status=status) == 1
    assert sample(found, "kelnor_http_request_duration_seconds_count", route=route) == 1
    assert sample(found, "kelnor_http_request_duration_seconds_bucket", route=route, le="1.0") == 1
    error_class = f"{status[0]}xx"
    errors = sample(found, "kelnor_http_errors_total", route=route, status_class=error_class)
    assert errors == (int(status) >= 400)
    for each in ("suggest", "videos", "search"):
        queries = sample(found, "kelnor_index_query_seconds_count", kind=each)
        assert queries == (each == kind)


class FailingIndex:
    """An index whose suggestions fail as no index should."""

    def _is_folded(self) -> bool:
        return False

    def suggest(self, *args, **keywords):
        raise RuntimeError("unexpected")


def test_an_unexpected_failure_is_counted_and_logged_as_a_500():
    log = io.StringIO()
    app = create_app(FailingIndex(), INFO, operations=Operations(access_log=log))
    asking = TestClient(app, raise_server_exceptions=False)
    assert asking.get("/suggest?q=hary").status_code == 500
    found = samples(asking.get("/metrics").text)
    assert sample(found, "kelnor_http_requests_total", route="/suggest", status="500") == 1
    assert sample(found, "kelnor_http_errors_total", route="/suggest", status_class="5xx") == 1
    assert LINE.fullmatch(log.getvalue().splitlines(keepends=True)[0])["status"] == "500"


def test_metrics_give_the_served_index_files_size(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    kelnor.save(INDEX, "words.bin")
    kelnor.save(INDEX, "demo")  # named as the demo's index is: still no index file of it
    read = file_index_info("words.bin", INDEX)
    named = index_info("demo", INDEX, "0123abcd")
    for info, size in [(read, os.stat("words.bin").st_size), (INFO, 0), (named, 0)]:
        found = samples(TestClient(create_app(INDEX, info)).get("/metrics").text)
        assert (sample(found, "kelnor_index_bytes"), sample(found, "kelnor_index_terms")) == (
            size,
            3,
        )


def test_metrics_count_reloads_and_size_the_index_served(tmp_path):
    path = tmp_path / "words.bin"
    replace(path, OLD)
    asking, reloader = served_app(path)
    replace(path, NEW)
    size = path.stat().st_size
    reloader.reload()
    path.write_bytes(b"not an index")
    reloader.reload()
    found = samples(asking.get("/metrics").text)
    assert sample(found, "kelnor_reloads_total", outcome="succeeded") == 1
    assert sample(found, "kelnor_reloads_total", outcome="failed") == 1
    # What is served is NEW, refused file or not.
    assert (sample(found, "kelnor_index_bytes"), sample(found, "kelnor_index_terms")) == (size, 2)


@pytest.fixture(scope="module")
def loaded_workers(tmp_path_factory) -> Iterator[tuple[str, Path, subprocess.Popen]]:
    """The base URL of `kelnor serve --demo` with two forked workers, which
    append to one access log (its path, which held a line before), and its
    process, once
    REQUESTS requests to /suggest on many connections at once have reached
    both workers."""
    log = tmp_path_factory.mktemp("log") / "access.log"
    log.write_text("kept\n")
    with running_server("--demo", "--workers", "2", "--access-log", str(log)) as (base, process):

        def ask(_: int) -> None:
            with urllib.request.urlopen(base + "/suggest?q=hary", timeout=10) as answer:
                answer.read()

        with ThreadPoolExecutor(8) as pool:
            list(pool.map(ask, range(REQUESTS)))
        yield base, log, process


def scraped(base: str) -> dict[tuple[str, frozenset], float]:
    with urllib.request.urlopen(base + "/metrics", timeout=10) as answer:
        return samples(answer.read().decode())


def test_forked_workers_metrics_sum_every_worker(loaded_workers):
    base, _, _ = loaded_workers
    for _ in range(4):  # whichever worker answers
        found = scraped(base)
        counted = sample(found, "kelnor_http_requests_total", route="/suggest", status="200")
        assert counted == REQUESTS
        assert sample(found, "kelnor_index_query_seconds_count", kind="suggest") == REQUESTS


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_the_counts_of_a_replaced_worker_stay(loaded_workers):
    base, _, process = loaded_workers
    os.kill(worker_pids(process.pid)[0], signal.SIGKILL)
    read_line_containing(process, "; starting another")
    # Up (and so stopped by SIGTERM, at the fixture's end) once uvicorn says so.
    read_line_containing(process, "Started server process")
    terms = get_json(base + "/health")["terms"]
    for _ in range(4):
        found = scraped(base)
        counted = sample(found, "kelnor_http_requests_total", route="/suggest", status="200")
        assert counted == REQUESTS
        assert sample(found, "kelnor_index_terms") == terms > 0


# ---------------------------------------------------------------- the access log



@pytest.mark.parametrize(
    "path, logged, status",
    [
        ("/suggest?q=secret", "/suggest", "200"),
        ("/nowhere%0Aforged%20line", "/nowhere%0Aforged%20line", "404"),
        ("/suggest", "/suggest", "400"),
    ],
)
def test_the_access_log_has_a_line_per_request(path, logged, status):
    log = io.StringIO()
    client(Operations(access_log=log)).get(path)
    line = LINE.fullmatch(log.getvalue())
    assert line is not None, log.getvalue()
    assert (line["method"], line["path"], line["status"]) == ("GET", logged, status)


def test_forked_workers_append_their_lines_to_one_access_log(loaded_workers):
    _, log, _ = loaded_workers
    lines = log.read_text().splitlines(keepends=True)
    assert lines[0] == "kept\n"
    paths = [LINE.fullmatch(line)["path"] for line in lines[1:]]
    assert paths.count("/suggest") == REQUESTS
    assert set(paths) <= {"/health", "/suggest", "/metrics"}


class FullDisk(io.StringIO):
    def write(self, text: str) -> int:
        raise OSError(28, "No space left on device")


class Kept(logging.Handler):
    def __init__(self) -> None:
        super().__init__()
        self.messages: list[str] = []

    def emit(self, record: logging.LogRecord) -> None:
        self.messages.append(record.getMessage())


def test_an_access_log_that_cannot_be_written_drops_lines_not_requests():
    kept = Kept()
    logging.getLogger("uvicorn.error").addHandler(kept)
    try:
        asking = client(Operations(access_log=FullDisk()))
        assert [asking.get("/health").status_code for _ in range(3)] == [200] * 3
    finally:
        logging.getLogger("uvicorn.error").removeHandler(kept)
    assert kept.messages == [
        "cannot write the access log ([Errno 28] No space left on device); dropping its lines"
    ]


def test_serve_refuses_an_access_log_it_cannot_open(capsys, tmp_path):
    status, _, err = run(capsys, "serve", "--demo", "--access-log", str(tmp_path / "no" / "log"))
    assert (status, err) == (
        1,
        f"kelnor: cannot open the access log {tmp_path / 'no' / 'log'}: No such file or directory\n",
    )


# ---------------------------------------------------------------- CORS


def test_no_cors_headers_unless_an_origin_is_given():
    answer = client().get("/suggest?q=hary", headers={"Origin": ORIGIN})
    assert not any(name.startswith("access-control-") for name in answer.headers)


@pytest.mark.parametrize("origins", [(ORIGIN,), ("*",)])
def test_cors_lets_the_origin_given_read_answers(origins):
    answer = client(Operations(cors_origins=origins)).get(
        "/suggest?q=hary", headers={"Origin": ORIGIN}
    )
    assert answer.headers["access-control-allow-origin"] == origins[0]


def test_cors_answers_a_preflight_for_get_and_only_from_the_origin_given():
    asking = client(Operations(cors_origins=(ORIGIN,)))
    ask = {"Access-Control-Request-Method": "GET"}
    allowed = asking.options("/suggest", headers={"Origin": ORIGIN, **ask})
    assert allowed.status_code == 200
    assert allowed.headers["access-control-allow-origin"] == ORIGIN
    assert "GET" in allowed.headers["access-control-allow-methods"]
    other = asking.options("/suggest", headers={"Origin": "https://elsewhere.example", **ask})
    assert other.status_code == 400
    assert "access-control-allow-origin" not in other.headers
    assert other.json() == {"error": "disallowed CORS origin"}
    assert other.headers["cache-control"] == "no-store"


@pytest.mark.parametrize(
    "origin, reason",
    [
        *(
            (origin, "expected * or an origin such as https://example.org (no path)")
            for origin in ["https://example.org/", "example.org", "https://a b"]
        ),
        (
            "https://bücher.example",
            "expected the host in ASCII, as browsers send it (xn-- for a name in another script)",
        ),
    ],
)
def test_serve_refuses_a_malformed_cors_origin(capsys, origin, reason):
    status, _, err = run(capsys, "serve", "--demo", "--cors-origin", origin)
    assert status == 2
    assert f"{reason}, got {origin!r}" in err


@pytest.mark.parametrize(
    "given, sent",
    [
        ("HTTPS://Example.ORG", "https://example.org"),
        ("https://example.org:443", "https://example.org"),
        ("http://example.org:80", "http://example.org"),
        ("http://example.org:443", "http://example.org:443"),
        ("https://example.org:8443", "https://example.org:8443"),
    ],
)
def test_a_cors_origin_matches_as_a_browser_sends_it(capsys, monkeypatch, given, sent):
    started = []
    monkeypatch.setattr("kelnor.server.serve", lambda app, *_: started.append(app))
    assert run(capsys, "serve", "--demo", "--cors-origin", given)[0] == 0
    answer = TestClient(started[0]).get("/suggest?q=hary", headers={"Origin": sent})
    assert answer.headers["access-control-allow-origin"] == sent


# ---------------------------------------------------------------- caching and the favicon


@pytest.mark.parametrize(
    "path, cache_control",
    [
        ("/", "public, max-age=300"),
        ("/openapi.json", "public, max-age=300"),
        ("/favicon.ico", "public, max-age=604800, immutable"),
        ("/suggest?q=hary", "no-store"),
        ("/videos?q=hary", "no-store"),
        ("/search?q=hary", "no-store"),
        ("/suggest?q=", "no-store"),
        ("/health", "no-store"),
        ("/metrics", "no-store"),
        ("/no/such/path", "no-store"),
    ],
)
def test_each_route_says_how_long_its_answer_may_be_kept(path, cache_control):
    assert client().get(path).headers["cache-control"] == cache_control


def test_the_favicon_is_svg_and_the_page_links_it():
    asking = client()
    icon = asking.get("/favicon.ico")
    assert icon.headers["content-type"] == "image/svg+xml"
    assert ElementTree.fromstring(icon.content).tag == "{http://www.w3.org/2000/svg}svg"
    assert '<link rel="icon" href="/favicon.ico" type="image/svg+xml">' in asking.get("/").text


@pytest.mark.parametrize("metrics", [True, False])
def test_metrics_are_served_and_described_only_when_on(metrics):
    asking = client(Operations(metrics=metrics))
    assert asking.get("/metrics").status_code == (200 if metrics else 404)
    described = asking.get("/openapi.json").json()["paths"]
    assert ("/metrics" in described) == metrics
    if metrics:
        assert "text/plain" in described["/metrics"]["get"]["responses"]["200"]["content"]


def test_docs_name_every_metric():
    serving = (Path(__file__).resolve().parent.parent / "docs" / "serving.md").read_text()
    families = text_string_to_metric_families(client().get("/metrics").text)
    # prometheus_client's own series of when each series began are not ours to name.
    names = {family.name for family in families if not family.name.endswith("_created")}
    assert len(names) == 8 and all(f"`{name}" in serving for name in names)
