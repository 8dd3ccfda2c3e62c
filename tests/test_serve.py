"""`kelnor serve`: the API through Starlette's test client, its refusals, the
counts /health reads from an image, and the command line's server process."""

from __future__ import annotations

import asyncio
import datetime
import errno
import contextlib
import importlib.resources
import json
import multiprocessing
import os
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.request
import zlib
from collections.abc import Iterator
from unittest import mock
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

pytest.importorskip("starlette", reason="the serve extra is not installed")
pytest.importorskip("httpx", reason="Starlette's test client needs httpx")

import httpx  # noqa: E402
import uvicorn  # noqa: E402
from serve_process import START_SECONDS, free_port, get_json, running_server  # noqa: E402
from slow_clients import (  # noqa: E402
    SLOW_STARTS,
    health_latencies_ms,
    read_until_closed,
    slow_connections,
)
from stuck_server import QUERY_UNDER_WAY  # noqa: E402
from starlette.testclient import TestClient  # noqa: E402
from uvicorn.protocols.http.h11_impl import H11Protocol  # noqa: E402
from test_cli import run  # noqa: E402

import kelnor  # noqa: E402
from conftest import ON_PYPY  # noqa: E402
from model_search import search_bound  # noqa: E402
from model_suggest import default_bound  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402
from kelnor.server import Deadlines, create_app, demo_index, file_index_info, index_info  # noqa: E402
from kelnor.server import workers  # noqa: E402
from kelnor.server.request_head_limits import (  # noqa: E402
    MAX_HEAD_BYTES,
    NOT_HTTP,
    TOO_LARGE,
    TOO_MANY_REASON,
    guarded_protocol,
    timed_out,
)

# The real servers' deadlines, short so that the tests that wait them out
# (slow clients, stuck requests) wait a few seconds rather than the defaults.
DEADLINES = Deadlines(head_seconds=4, shutdown_grace_seconds=1)
DEADLINE_OPTIONS = (
    *("--head-timeout", str(DEADLINES.head_seconds)),
    *("--shutdown-grace", str(DEADLINES.shutdown_grace_seconds)),
)

RECORDS = [
    ("harry", 7, 3),
    ("harry potter", 8, 9),
    ("harold", 9, 1),
    ("hare", 7, 2),
    ("hare", 8, 6),
    ("été", 12, 5),
]
INDEX = kelnor.build(RECORDS)
INFO = index_info("/data/words.bin", INDEX, "0123abcd")
CLIENT = TestClient(create_app(INDEX, INFO))
DAMAGED_IMAGE = bytes([1, 0, 1, 0, 1, 5, 1, 0, 0, 0, 0, 1, 0])  # node 0's child 5 does not exist



def query_string(**params) -> str:
    """`params` as a query string, leaving out those that are None, flags as true or false."""
    given_params = {
        name: str(value).lower() if isinstance(value, bool) else value
        for name, value in params.items()
        if value is not None
    }
    return str(httpx.QueryParams(given_params))


def get(path: str, client: TestClient = CLIENT) -> tuple[int, dict]:
    response = client.get(path)
    assert response.headers["content-type"] == "application/json"
    return response.status_code, response.json()


# ---------------------------------------------------------------- answers


@settings(max_examples=150, deadline=None)
@given(
    q=st.text(alphabet="aehortyé ", min_size=1, max_size=8),
    max_dist=st.one_of(st.none(), st.integers(0, 3)),
    limit=st.one_of(st.none(), st.integers(0, 100)),
    complete=st.one_of(st.none(), st.booleans()),
    transpositions=st.one_of(st.none(), st.booleans()),
)
def test_suggest_answers_as_the_index_does(q, max_dist, limit, complete, transpositions):
    params = query_string(
        q=q, max_dist=max_dist, limit=limit, complete=complete, transpositions=transpositions
    )
    status, body = get("/suggest?" + params)
    expected = INDEX.suggest(
        q,
        max_dist,
        10 if limit is None else limit,
        complete=complete is not False,
        transpositions=transpositions is not False,
    )
    assert status == 200
    assert [tuple(s.values()) for s in body["suggestions"]] == expected
    assert body["took_ms"] >= 0


def test_videos_keep_the_best_where_the_counts_are_spread():
    # 300 videos share "rec"'s searches: each scores below the index's
    # default min_score.
    records = [("rec", video, 100) for video in range(300)]
    client = TestClient(create_app(kelnor.build(records, video_top_n=300), INFO))
    assert kelnor.build(records, video_top_n=300).fuzzy_match_video("rec") == []
    _, body = get("/videos?q=rec&limit=100", client)
    assert [v["id"] for v in body["videos"]] == [str(video) for video in range(100)]
    _, body = get("/videos?q=rec&limit=100&min_score=0.5", client)
    assert body["videos"] == []
    _, body = get("/videos?q=rec&limit=100&min_score=0", client)
    assert len(body["videos"]) == 100


@settings(max_examples=150, deadline=None)
@given(
    q=st.text(alphabet="aehortyé ", min_size=1, max_size=8),
    max_dist=st.one_of(st.none(), st.integers(0, 3)),
    limit=st.one_of(st.none(), st.integers(0, 100)),
    min_score=st.one_of(st.none(), st.sampled_from([0.0, 0.01, 0.3, 1.0])),
)
def test_videos_answers_as_the_index_does(q, max_dist, limit, min_score):
    params = query_string(q=q, max_dist=max_dist, limit=limit, min_score=min_score)
    status, body = get("/videos?" + params)
    expected = INDEX.fuzzy_match_video(
        q, 1 if max_dist is None else max_dist, 10 if limit is None else limit, min_score=min_score or 0
    )
    if min_score is None:  # the best videos, by a cut relative to the best score
        expected = [(video, score) for video, score in expected if score >= expected[0][1] / 100]
    assert status == 200
    assert [(v["id"], v["score"]) for v in body["videos"]] == expected


@settings(max_examples=150, deadline=None)
@given(
    q=st.text(alphabet="aehoprty ,", min_size=1, max_size=12),
    max_dist=st.one_of(st.none(), st.integers(0, 3)),
    limit=st.one_of(st.none(), st.integers(0, 100)),
)
def test_search_answers_as_the_index_does(q, max_dist, limit):
    status, body = get("/search?" + query_string(q=q, max_dist=max_dist, limit=limit))
    expected = INDEX.search(q, max_dist, 10 if limit is None else limit)
    assert status == 200
    assert [(v["id"], v["words"], v["score"]) for v in body["videos"]] == expected
FOLDED = kelnor.build(
    RECORDS + [("Harry", 9, 4), ("HÄRE", 12, 1), ("Kurosawa", 10, 2), ("KUROSAWA", 11, 1)],
    fold=True,
)
FOLDED_CLIENT = TestClient(create_app(FOLDED, index_info("folded.bin", FOLDED, "00000000")))


# For an index of folded terms the server folds q, and only for one.
@settings(max_examples=100, deadline=None)
@given(q=st.text(alphabet="aehortyéÉHÄKUROSW ", min_size=1, max_size=8))
def test_a_folded_index_is_searched_with_q_folded(q):
    params = query_string(q=q)
    suggested = get("/suggest?" + params, FOLDED_CLIENT)[1]["suggestions"]
    assert [tuple(s.values()) for s in suggested] == FOLDED.suggest(kelnor.fold(q))
    videos = get("/videos?" + params + "&min_score=0", FOLDED_CLIENT)[1]["videos"]
    assert [(v["id"], v["score"]) for v in videos] == FOLDED.fuzzy_match_video(
        kelnor.fold(q), 1, 10, min_score=0
    )
    searched = get("/search?" + params, FOLDED_CLIENT)[1]["videos"]
    assert [tuple(v.values()) for v in searched] == FOLDED.search(kelnor.fold(q))
    unfolded = get("/suggest?" + params)[1]["suggestions"]
    assert [tuple(s.values()) for s in unfolded] == INDEX.suggest(q)


@pytest.mark.parametrize(
    "q, shown",
    [
        ("KUROSAWA", [("Kurosawa", 0, 3)]),
        # "hare" 8 times, "HÄRE" once.
        ("HÂRE", [("hare", 0, 9)]),
        ("ETE", [("été", 0, 5)]),
        # "Harry" 4 times, "harry" 3.
        ("HARRY", [("Harry", 0, 7)]),
    ],
)
def test_a_folded_index_suggests_the_spelling_indexed_most(q, shown):
    params = query_string(q=q, complete=False, max_dist=0)
    suggested = get("/suggest?" + params, FOLDED_CLIENT)[1]["suggestions"]
    assert [tuple(s.values()) for s in suggested] == shown


def test_the_flags_take_true_false_1_and_0():
    answers = {
        value: get(f"/suggest?q=harr&complete={value}")[1]["suggestions"]
        for value in ["true", "1", "false", "0"]
    }
    assert answers["true"] == answers["1"] != answers["false"] == answers["0"]


def test_health_reports_the_index():
    status, body = get("/health")
    loaded_at = datetime.datetime.fromisoformat(body.pop("loaded_at"))
    assert loaded_at.utcoffset() == datetime.timedelta(0)
    assert (status, body) == (
        200,
        {
            "status": "ok",
            "index": "words.bin",
            "nodes": INFO.nodes,
            "terms": 5,
            "videos": 4,
            "checksum": INFO.checksum,
        },
    )


def test_the_page_is_package_data_and_served_at_the_root():
    page = (importlib.resources.files("kelnor.server") / "page.html").read_text(encoding="utf-8")
    response = CLIENT.get("/")
    assert response.status_code == 200
    assert response.headers["content-type"] == "text/html; charset=utf-8"
    assert response.text == page
    # Self-contained: nothing fetched from another origin.
    assert "http://" not in page and "https://" not in page and "//cdn" not in page


def served_description() -> dict:
    status, description = get("/openapi.json")
    assert status == 200
    return description


def test_the_openapi_description_names_each_json_endpoint():
    paths = {route.path for route in CLIENT.app.routes} - {"/", "/openapi.json", "/favicon.ico"}
    assert set(served_description()["paths"]) == paths


def test_the_openapi_description_names_each_endpoints_parameters():
    for path, operations in served_description()["paths"].items():
        names = [parameter["name"] for parameter in operations["get"].get("parameters", [])]
        if names:
            # The endpoint's refusal of an unknown parameter lists what it takes.
            status, refusal = get(f"{path}?q=a&nope=1")
            assert refusal["error"].endswith("this endpoint takes " + ", ".join(names))


# How a max_dist description says the bound that applies when none is given.
DESCRIBED_BOUND = re.compile(
    r"not given: 0 below (\d+) characters, 1 from (\d+) to (\d+), 2 from (\d+)$"
)


@pytest.mark.parametrize("path, bound", [("/suggest", default_bound), ("/search", search_bound)])
def test_the_described_bound_without_max_dist_is_the_indexs(path, bound):
    parameters = served_description()["paths"][path]["get"]["parameters"]
    described = next(p for p in parameters if p["name"] == "max_dist")["description"]
    one_from, _, one_to, two_from = map(int, DESCRIBED_BOUND.search(described).groups())
    assert one_to + 1 == two_from
    for length in range(1, 12):
        said = 0 if length < one_from else 1 if length < two_from else 2
        assert (length, said) == (length, bound("h" * length))


def answer_schema(path: str) -> dict:
    """The schema of the endpoint's answer of status 200."""
    description = served_description()
    content = description["paths"][path]["get"]["responses"]["200"]["content"]
    reference = content["application/json"]["schema"]["$ref"]
    return description["components"]["schemas"][reference.rsplit("/", 1)[1]]


def answer(path: str, **params) -> tuple[int, dict]:
    """The endpoint's status and body, without the time it took."""
    status, body = get(f"{path}?{query_string(**params)}")
    body.pop("took_ms", None)
    return status, body


def described_parameters():
    for path, operations in served_description()["paths"].items():
        for parameter in operations["get"].get("parameters", []):
            yield pytest.param(path, parameter, id=f"{path} {parameter['name']}")


@pytest.mark.parametrize("path, parameter", described_parameters())
def test_each_parameter_is_served_as_described(path, parameter):
    name, schema = parameter["name"], parameter["schema"]
    base = {"q": "hary"}  # one edit from terms: the bounds and modes change the answer
    status, answered = answer(path, **base)
    assert status == 200
    assert sorted(answered) == sorted(set(answer_schema(path)["required"]) - {"took_ms"})
    if name == "q":
        assert answer(path, q="h" * schema["maxLength"])[0] == 200
        assert answer(path, q="h" * (schema["maxLength"] + 1))[0] == 400
        assert answer(path, q="")[0] == 400 and schema["minLength"] == 1
        assert answer(path)[0] == 400 and parameter["required"]
        return
    assert not parameter["required"]
    if "default" in schema:
        assert answer(path, **base, **{name: schema["default"]}) == (200, answered)
    if schema["type"] == "boolean":
        for value in (True, False):
            assert answer(path, **base, **{name: value})[0] == 200
        assert answer(path, **base, **{name: "maybe"})[0] == 400
    else:
        step = 1 if schema["type"] == "integer" else 0.5
        for value in (schema["minimum"], schema["maximum"]):
            assert answer(path, **base, **{name: value})[0] == 200
        for value in (schema["minimum"] - step, schema["maximum"] + step):
            assert answer(path, **base, **{name: value})[0] == 400


# ---------------------------------------------------------------- refusals

LONG = "a" * 257
NOT_UTF8 = "the query string is not UTF-8 once its %-escapes are decoded"
MIN_SCORE_REFUSAL = "parameter 'min_score' must be a number from 0 to 1, got {!r}"


@pytest.mark.parametrize(
    "query, reason",
    [
        ("", "parameter 'q' is missing"),
        ("?q=", "parameter 'q' is empty"),
        (f"?q={LONG}", "parameter 'q' has 257 characters; at most 256 are accepted"),
        ("?q=a&q=b", "parameter 'q' is given more than once"),
        ("?q=a&max_dist=4", "parameter 'max_dist' must be a whole number from 0 to 3, got '4'"),
        ("?q=a&max_dist=-1", "parameter 'max_dist' must be a whole number from 0 to 3, got '-1'"),
        ("?q=a&max_dist=1.0", "parameter 'max_dist' must be a whole number from 0 to 3, got '1.0'"),
        ("?q=a&max_dist=", "parameter 'max_dist' must be a whole number from 0 to 3, got ''"),
        ("?q=a&limit=101", "parameter 'limit' must be a whole number from 0 to 100, got '101'"),
        (
            "?q=a&limit=" + "9" * 5000,
            f"parameter 'limit' must be a whole number from 0 to 100, got '{'9' * 5000}'",
        ),
        ("?q=a&limit=%D9%A1", "parameter 'limit' must be a whole number from 0 to 100, got '١'"),
        ("?q=%FF", NOT_UTF8),
        ("?q=caf%C3", NOT_UTF8),
        ("?q=a&%ED%A0%80=1", NOT_UTF8),  # an escaped surrogate is no UTF-8 either
        ("?q=a&max_dist=%C0%B1", NOT_UTF8),
    ],
)
@pytest.mark.parametrize("path", ["/suggest", "/videos", "/search"])
def test_bad_input_gets_400_and_the_reason(path, query, reason):
    assert get(path + query) == (400, {"error": reason})


@pytest.mark.parametrize(
    "path, reason",
    [
        (
            "/suggest?q=a&min_score=1",
            "unknown parameter 'min_score'; this endpoint takes "
            "q, max_dist, limit, complete, transpositions",
        ),
        ("/suggest?q=a&complete=yes", "parameter 'complete' must be true or false, got 'yes'"),
        (
            "/suggest?q=a&transpositions=True",
            "parameter 'transpositions' must be true or false, got 'True'",
        ),
        (
            "/videos?q=a&complete=true",
            "unknown parameter 'complete'; this endpoint takes q, max_dist, limit, min_score",
        ),
        ("/videos?q=a&min_score=1.5", MIN_SCORE_REFUSAL.format("1.5")),
        ("/videos?q=a&min_score=nan", MIN_SCORE_REFUSAL.format("nan")),
        ("/videos?q=a&min_score=-0.1", MIN_SCORE_REFUSAL.format("-0.1")),
        ("/videos?q=a&min_score=half", MIN_SCORE_REFUSAL.format("half")),
        # float() would take these: digits of other scripts, spaces, underscores.
        ("/videos?q=a&min_score=%D9%A0.%D9%A5", MIN_SCORE_REFUSAL.format("٠.٥")),
        ("/videos?q=a&min_score=%EF%BC%90.%EF%BC%95", MIN_SCORE_REFUSAL.format("０.５")),
        ("/videos?q=a&min_score=%20.5%20", MIN_SCORE_REFUSAL.format(" .5 ")),
        ("/videos?q=a&min_score=0.1_0", MIN_SCORE_REFUSAL.format("0.1_0")),
        (
            "/search?q=a&min_score=0",
            "unknown parameter 'min_score'; this endpoint takes q, max_dist, limit",
        ),
        (
            "/search?q=" + "+a" * 33,
            "PrefixSearch.search() takes at most 32 words; the text has 33",
        ),
    ],
)
def test_each_endpoint_refuses_its_own_way(path, reason):
    assert get(path) == (400, {"error": reason})


def without_timing(answer: tuple[int, dict]) -> tuple[int, dict]:
    status, body = answer
    return status, {name: value for name, value in body.items() if name != "took_ms"}


@pytest.mark.parametrize("zeros", [1, 4300, 5001, 20000])
@pytest.mark.parametrize(
    "path, found", [("/suggest", "suggestions"), ("/videos", "videos"), ("/search", "videos")]
)
def test_leading_zeros_however_many_spell_the_same_number(path, found, zeros):
    # Past 4300 digits Python's int() refuses a string: the zeros are dropped first.
    padded = get(f"{path}?q=har&max_dist={'0' * zeros}1&limit={'0' * zeros}2")
    plain = get(f"{path}?q=har&max_dist=1&limit=2")
    assert without_timing(padded) == without_timing(plain)
    assert plain[0] == 200 and len(plain[1][found]) == 2
    assert without_timing(get(f"{path}?q=har&limit={'0' * zeros}")) == (200, {found: []})


@pytest.mark.parametrize("path", ["/health/", "/suggest/?q=a", "/openapi.json/", "/videos/"])
def test_a_path_with_a_slash_too_many_is_not_found_and_not_redirected(path):
    response = CLIENT.get(path, headers={"Host": "elsewhere.invalid"}, follow_redirects=False)
    assert (response.status_code, response.json()) == (404, {"error": "Not Found"})
    assert "location" not in response.headers


def test_the_longest_q_is_accepted():
    status, _ = get("/videos?q=" + "é" * 256)
    assert status == 200


@pytest.mark.parametrize(
    "method, path, status, reason, allowed",
    [
        ("GET", "/find", 404, "Not Found", None),
        ("POST", "/videos?q=a", 405, "Method Not Allowed", {"GET", "HEAD"}),
        ("PUT", "/suggest?q=a", 405, "Method Not Allowed", {"GET", "HEAD"}),
        ("DELETE", "/", 405, "Method Not Allowed", {"GET", "HEAD"}),
        ("OPTIONS", "/favicon.ico", 405, "Method Not Allowed", {"GET", "HEAD"}),
    ],
)
def test_unknown_routes_and_methods_get_json(method, path, status, reason, allowed):
    response = CLIENT.request(method, path)
    assert (response.status_code, response.json()) == (status, {"error": reason})
    # A 405 names the methods the path takes (RFC 9110, section 15.5.6).
    allow = response.headers.get("allow")
    assert (None if allow is None else set(allow.split(", "))) == allowed


def test_a_damaged_index_is_the_servers_fault_and_said_so():
    damaged = PrefixSearch.from_bytes(DAMAGED_IMAGE)
    client = TestClient(create_app(damaged, index_info("damaged.bin", damaged, "00000000")))
    assert get("/videos?q=a", client) == (
        500,
        {"error": "the index is damaged (index out of bounds: the len is 1 but the index is 5)"},
    )
    assert get("/health", client)[0] == 200


# ---------------------------------------------------------------- off the loop


class BlockingIndex:
    """Stands for an index whose suggestions and video queries wait until
    they are let go."""

    def __init__(self) -> None:
        self.entered = threading.Event()
        self.release = threading.Event()

    def _is_folded(self) -> bool:
        return False

    def _blocked(self) -> None:
        self.entered.set()
        assert self.release.wait(10)

    def suggest(self, *args, **keywords):
        self._blocked()
        return [("harry", 1, 3)]

    def fuzzy_match_video(self, *args, **keywords):
        self._blocked()
        return [("1", 1.0)]


def test_a_slow_query_stalls_neither_the_loop_nor_the_others():
    slow = BlockingIndex()
    app = create_app(slow, INFO)  # type: ignore[arg-type]

    async def scenario() -> None:
        transport = httpx.ASGITransport(app=app)
        async with httpx.AsyncClient(transport=transport, base_url="http://test") as client:
            pending = asyncio.ensure_future(client.get("/videos?q=a"))
            await asyncio.get_running_loop().run_in_executor(None, slow.entered.wait, 10)
            health = await asyncio.wait_for(client.get("/health"), 5)
            assert health.status_code == 200 and not pending.done()
            slow.release.set()
            assert (await pending).json()["videos"] == [{"id": "1", "score": 1.0}]

    asyncio.run(scenario())


# ---------------------------------------------------------------- what /health reports


def test_health_reports_an_index_files_sizes_and_checksum(tmp_path):
    saved, bare = tmp_path / "saved.bin", tmp_path / "bare.bin"
    kelnor.save(INDEX, saved)
    bare.write_bytes(INDEX.to_bytes())
    for path in [saved, bare]:
        info = file_index_info(str(path), INDEX)
        assert (info.terms, info.videos) == (5, 4)
        assert info.checksum == kelnor.file_info(path).checksum
    assert file_index_info(str(bare), INDEX).checksum == f"{zlib.crc32(INDEX.to_bytes()):08x}"


@pytest.mark.parametrize(
    "name, shown",
    [(b"words.bin", "words.bin"), ("wörds.bin".encode(), "wörds.bin"), (b"w\xf6rds.bin", "w\\xf6rds.bin")],
    ids=["ascii", "utf-8", "latin-1"],
)
def test_health_names_an_index_file_whose_name_is_not_utf8(tmp_path, name, shown):
    path = os.fsdecode(os.path.join(os.fsencode(tmp_path), name))
    kelnor.save(INDEX, path)
    status, body = get("/health", TestClient(create_app(INDEX, file_index_info(path, INDEX))))
    assert (status, body["index"]) == (200, shown)


def test_the_demo_index_is_the_shipped_sample_folded():
    index, info = demo_index()
    # The sample's 37,372 words fold to fewer terms ("Polish" and "polish").
    assert (info.source, info.terms, info.videos) == ("demo", 37078, 2000)
    assert info.checksum == f"{zlib.crc32(index.to_bytes()):08x}"
    client = TestClient(create_app(index, info))
    suggested = get("/suggest?q=ZURICH", client)[1]["suggestions"]
    assert [s["term"] for s in suggested] == ["Zürich"]


# ---------------------------------------------------------------- the command


@pytest.mark.parametrize(
    "argv, message",
    [
        ([], "one of the arguments INDEX.bin --demo is required"),
        (["x.bin", "--demo"], "argument --demo: not allowed with argument INDEX.bin"),
        (["-"], "argument INDEX.bin: the server reads its index from a file, which it watches"),
        (["--demo", "--port", "0"], "expected a whole number from 1 to 65535, got '0'"),
        (["--demo", "--workers", "0"], "expected a whole number from 1 to 64, got '0'"),
        (
            ["--demo", "--reload-interval", "0.5"],
            "expected a whole number from 0 to 86400, got '0.5'",
        ),
    ],
)
def test_serve_refuses_a_malformed_command_line(capsys, argv, message):
    status, _, err = run(capsys, "serve", *argv)
    assert status == 2 and message in err


def test_serve_without_the_extra_says_what_to_install(capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "kelnor.server", None)
    monkeypatch.delattr(kelnor, "server")
    status, _, err = run(capsys, "serve", "--demo")
    assert status == 1
    assert err.startswith("kelnor: kelnor serve needs the serve extra (")
    assert err.endswith("): pip install 'kelnor[serve]'\n")


def test_serve_refuses_a_file_that_is_no_index(capsys, tmp_path):
    path = tmp_path / "not.bin"
    path.write_bytes(b"\xff")
    status, _, err = run(capsys, "serve", path)
    assert (status, err) == (
        1,
        f"kelnor: {path} is not a kelnor index: it has no index file header and is no index image\n",
    )


def test_forked_workers_serve_a_file_and_stop_on_sigterm(tmp_path):
    path = tmp_path / "words.bin"
    kelnor.save(INDEX, path)
    with running_server(str(path), "--workers", "2") as (base, process):
        health = get_json(base + "/health")
        assert (health["index"], health["terms"]) == ("words.bin", 5)
        assert health["checksum"] == kelnor.file_info(path).checksum
        served = get_json(base + "/videos?q=hary")["videos"]
        assert served == get("/videos?q=hary")[1]["videos"] != []
    assert process.returncode == 0


def test_a_server_of_a_folded_index_file_folds_what_is_typed(tmp_path):
    path = tmp_path / "folded.bin"
    kelnor.save(FOLDED, path)
    with running_server(str(path)) as (base, process):
        suggested = get_json(base + "/suggest?q=KUROSAWA")["suggestions"]
        assert suggested == [{"term": "Kurosawa", "distance": 0, "count": 3}]
        videos = get_json(base + "/videos?q=Kurosawa")["videos"]
        assert [v["id"] for v in videos] == ["10", "11"]


# ---------------------------------------------------------------- hostile clients


def port_of(base: str) -> int:
    return int(base.rsplit(":", 1)[1])


@contextlib.contextmanager
def h11_server(most_at_once: int | None = None) -> Iterator[str]:
    """The demo's server as `kelnor serve` configures it, but parsing with h11
    (as where the fast parser is not installed), in a thread of this process;
    holding at most `most_at_once` connections when given."""
    index, info = demo_index()
    port = free_port()
    app = create_app(index, info)
    config = workers._config(app, "127.0.0.1", port, DEADLINES)
    config.http = guarded_protocol(DEADLINES.head_seconds, H11Protocol, app.state.metrics.refused)
    if most_at_once is not None:
        config.limit_concurrency = most_at_once
    server = uvicorn.Server(config)
    thread = threading.Thread(target=server.run)
    thread.start()
    try:
        while not server.started:
            assert thread.is_alive(), "the h11 server did not start"
            time.sleep(0.05)
        yield f"http://127.0.0.1:{port}"
    finally:
        server.should_exit = True
        thread.join()


SERVERS = ["kelnor serve", "h11"]


@pytest.fixture(scope="module")
def demo_servers() -> Iterator[dict[str, str]]:
    """The base URL of each of SERVERS, all serving the demo at once."""
    with running_server("--demo", *DEADLINE_OPTIONS) as (base, _), h11_server() as h11_base:
        yield {"kelnor serve": base, "h11": h11_base}


@pytest.fixture(params=SERVERS)
def demo_server(request, demo_servers) -> str:
    return demo_servers[request.param]


SLOW_CLIENTS = 300


@pytest.fixture(scope="module")
def slow_client_visits(deadlines_waited_out) -> dict[str, tuple[int, list[bytes | None]]]:
    return deadlines_waited_out[0]


@pytest.mark.parametrize("server", SERVERS)
def test_slow_clients_neither_hold_up_health_nor_stay(slow_client_visits, server):
    answered, closings = slow_client_visits[server]
    assert answered == 20
    expected = [timed_out(DEADLINES.head_seconds) if start else b"" for start in SLOW_STARTS]
    assert closings == [expected[n % len(expected)] for n in range(SLOW_CLIENTS)]


def exchange(base: str, request: bytes, piece: int) -> bytes:
    """What the server answers to `request` sent in pieces of `piece` bytes,
    until it closes the connection."""
    with socket.create_connection(("127.0.0.1", port_of(base)), timeout=30) as connection:
        try:
            for start in range(0, len(request), piece):
                connection.sendall(request[start : start + piece])
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused before the end; its answer is waiting
        [answer] = read_until_closed([connection], 30)
    assert answer is not None
    return answer


def head_of(size: int, connection: bytes = b"close") -> bytes:
    """A request for /health of exactly `size` bytes, made up by one long header."""
    fixed = b"GET /health HTTP/1.1\r\nHost: k\r\nConnection: " + connection + b"\r\nX-Padding: \r\n\r\n"
    return fixed.replace(b"X-Padding: ", b"X-Padding: " + b"p" * (size - len(fixed)))


@pytest.mark.parametrize("piece", [1 << 20, 1000, 65535])
@pytest.mark.parametrize(
    "request_, answered",
    [
        pytest.param(head_of(MAX_HEAD_BYTES), True, id="at the limit"),
        pytest.param(head_of(MAX_HEAD_BYTES + 1), False, id="a byte past it"),
        pytest.param(head_of(3 * MAX_HEAD_BYTES), False, id="far past it"),
        pytest.param(
            b"GET /health?" + b"x" * MAX_HEAD_BYTES + b" HTTP/1.1\r\nHost: k\r\n\r\n",
            False,
            id="a long request line",
        ),
    ],
)
def test_a_request_head_past_the_limit_is_refused(demo_server, request_, answered, piece):
    base = demo_server
    answer = exchange(base, request_, piece)
    if answered:
        assert answer.startswith(b"HTTP/1.1 200 OK\r\n")
        assert b'"terms":37078,"videos":2000,"checksum":"e2cff895","loaded_at":"' in answer
    else:
        assert answer == TOO_LARGE


@pytest.mark.parametrize(
    "request_", [b"GET /health HTTP/1.1\r\nHost: k\r\nno colon\r\n\r\n", b"\x16\x03\x01\x02\x00"]
)
def test_what_is_no_http_request_is_refused_in_json(demo_server, request_):
    assert exchange(demo_server, request_, 1 << 20) == NOT_HTTP


@contextlib.contextmanager
def fresh_server(name: str) -> Iterator[str]:
    """A server of SERVERS named `name`, serving the demo for one test alone."""
    if name == "h11":
        with h11_server() as base:
            yield base
    else:
        with running_server("--demo", *DEADLINE_OPTIONS) as (base, _):
            yield base


@pytest.mark.parametrize("server", SERVERS)
def test_refusals_below_the_application_are_counted_in_its_metrics(server):
    with fresh_server(server) as base:
        exchange(base, b"\x16\x03\x01\x02\x00", 1 << 20)
        for _ in range(2):
            exchange(base, head_of(MAX_HEAD_BYTES + 1), 1 << 20)
        with urllib.request.urlopen(base + "/metrics") as answer:
            figures = answer.read().decode()
    counted = re.findall(r'kelnor_http_refusals_total\{reason="(\w+)"\} (\S+)', figures)
    assert dict(counted) == {
        "not_http": "1.0",
        "head_timeout": "0.0",
        "head_too_large": "2.0",
        "too_many": "0.0",
        "unread_answers": "0.0",
    }


def test_a_request_past_the_connections_at_once_is_refused_in_json():
    with h11_server(most_at_once=2) as base, socket.create_connection(("127.0.0.1", port_of(base))):
        answer = exchange(base, b"GET /health HTTP/1.1\r\nHost: k\r\n\r\n", 1 << 20)
    head, body = answer.split(b"\r\n\r\n")
    assert head.startswith(b"HTTP/1.1 503 ") and b"cache-control: no-store" in head
    assert json.loads(body) == {"error": TOO_MANY_REASON}


def test_the_head_limit_counts_afresh_for_each_request_of_a_connection(demo_server):
    base = demo_server
    kept = head_of(MAX_HEAD_BYTES, b"keep-alive")
    answer = exchange(base, kept + kept + head_of(MAX_HEAD_BYTES), 1 << 20)
    assert answer.count(b"HTTP/1.1 200 OK\r\n") == 3


PAGE = b"GET / HTTP/1.1\r\nHost: k\r\n\r\n"
SUGGEST_100 = b"GET /suggest?q=a&limit=100&complete=true HTTP/1.1\r\nHost: k\r\n\r\n"


@pytest.mark.parametrize(
    "request_, count",
    [(SUGGEST_100, 20000), (PAGE, 300)],
    ids=["past the bytes read ahead", "all read"],
)
def test_a_client_that_reads_no_answer_is_reset(demo_server, request_, count):
    """Requests sent ahead whose answers are never read: once the answers
    cannot be written for the head's deadline, the server resets the
    connection rather than hold it and its answers for good, whether or not
    it has read every request (a close would leave the answers queued)."""
    with socket.socket() as connection:
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        connection.connect(("127.0.0.1", port_of(demo_server)))
        connection.settimeout(DEADLINES.head_seconds + 20)

        def send_ahead() -> None:
            with contextlib.suppress(OSError):  # the reset ends it
                connection.sendall(request_ * count)

        sender = threading.Thread(target=send_ahead, daemon=True)
        sender.start()
        poll = select.poll()
        poll.register(connection, select.POLLERR | select.POLLHUP)
        assert poll.poll((DEADLINES.head_seconds + 20) * 1000), "the connection is still held"
        assert connection.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == errno.ECONNRESET
        sender.join(10)


@pytest.mark.parametrize(
    "sizes, reset", [((70000, 70000, 70000), True), ((70000, 69000, 69000), False)]
)
def test_a_slow_reader_is_reset_only_when_it_took_nothing_for_the_deadline(sizes, reset):
    """Each look at the unsent bytes gives the next of `sizes`."""
    refusals = []
    protocol = object.__new__(guarded_protocol(DEADLINES.head_seconds, H11Protocol, refusals.append))
    protocol.transport = mock.Mock(get_write_buffer_size=mock.Mock(side_effect=sizes))
    protocol.transport.get_extra_info.return_value = None
    protocol.loop = asyncio.new_event_loop()
    try:
        protocol._arm_write_timer()
        protocol._write_timer.cancel()
        protocol._unread()  # the deadline passed
        assert (protocol.transport.abort.called, refusals) == (
            (True, ["unread_answers"]) if reset else (False, [])
        )
        assert (protocol._write_timer is None) == reset
    finally:
        if protocol._write_timer is not None:
            protocol._write_timer.cancel()
        protocol.loop.close()


def test_a_request_begun_ahead_of_an_answer_has_the_head_deadline(demo_server):
    """The start of a request sent with the one before it: not an idle
    connection, so it is refused with a 408 at the head's deadline."""
    health = b"GET /health HTTP/1.1\r\nHost: k\r\n\r\n"
    answer = exchange(demo_server, health + b"GET /health HTTP/1.1\r\nHost: k\r\n", 1 << 20)
    assert answer.count(b"HTTP/1.1 200 OK\r\n") == 1
    assert answer.endswith(timed_out(DEADLINES.head_seconds))


POSTED = b"POST /health HTTP/1.1\r\nHost: k\r\n"
CLOSING_HEALTH = b"GET /health HTTP/1.1\r\nHost: k\r\nConnection: close\r\n\r\n"


@pytest.mark.parametrize(
    "request_, answers",
    [
        pytest.param(
            POSTED + b"Content-Length: 200000\r\n\r\n" + b"x" * 200000 + CLOSING_HEALTH,
            [b"405", b"200"],
            id="sized",
        ),
        pytest.param(
            POSTED + b"Transfer-Encoding: chunked\r\n\r\n" + b"1\r\nx\r\n" * 30000
            + b"0\r\n\r\n" + CLOSING_HEALTH,
            [b"405", b"200"],
            id="chunked",
        ),
        pytest.param(
            POSTED + b"Content-Length: 200000\r\n\r\n" + b"x" * 5000, [b"405"], id="unfinished"
        ),
    ],
)
def test_the_body_of_a_request_answered_before_it_ended_is_no_head(demo_server, request_, answers):
    """A POST is answered 405 before its body comes: the body is dropped, not
    counted as the next request's head (a 431 here), and one that does not
    end closes the connection at the head's deadline without a 408."""
    answer = exchange(demo_server, request_, 1000)
    assert re.findall(rb"HTTP/1.1 (\d+) ", answer) == answers


@pytest.mark.parametrize("parameter", ["limit", "max_dist"])
def test_a_number_of_thousands_of_digits_is_refused_by_a_real_server(demo_server, parameter):
    base = demo_server
    digits = "9" * 5001
    request = f"GET /suggest?q=a&{parameter}={digits} HTTP/1.1\r\nHost: k\r\nConnection: close\r\n\r\n"
    answer = exchange(base, request.encode(), 1 << 20)
    high = 100 if parameter == "limit" else 3
    reason = f"parameter '{parameter}' must be a whole number from 0 to {high}, got '{digits}'"
    assert answer.startswith(b"HTTP/1.1 400 Bad Request\r\n")
    assert answer.endswith(f'{{"error":"{reason}"}}'.encode())


# ---------------------------------------------------------------- stopping

STUCK_SERVER = (str(Path(__file__).with_name("stuck_server.py")),)


def read_line_containing(process: subprocess.Popen, text: str) -> None:
    """Reads the output of `process` up to a line containing `text`."""
    found = threading.Event()

    def read() -> None:
        for line in process.stdout:
            if text in line:
                found.set()
                return

    threading.Thread(target=read, daemon=True).start()
    assert found.wait(30), f"no line with {text!r}"


STOPS = [(workers, stop) for stop in (signal.SIGTERM, signal.SIGINT) for workers in ("1", "2")]


def stuck_servers_told_to_stop(
    stack: contextlib.ExitStack,
) -> dict[tuple[str, signal.Signals], subprocess.Popen]:
    """A server for each of STOPS, told to stop while a video query is stuck on it."""
    processes = {}
    for worker_count, stop in STOPS:
        base, process = stack.enter_context(
            running_server(
                *("--workers", worker_count),
                *("--shutdown-grace", str(DEADLINES.shutdown_grace_seconds)),
                program=STUCK_SERVER,
            )
        )
        stuck = stack.enter_context(socket.create_connection(("127.0.0.1", port_of(base))))
        stuck.sendall(b"GET /videos?q=a HTTP/1.1\r\nHost: k\r\n\r\n")
        read_line_containing(process, QUERY_UNDER_WAY)
        processes[worker_count, stop] = process
    for (_, stop), process in processes.items():
        process.send_signal(stop)
    return processes


@pytest.fixture(scope="module")
def deadlines_waited_out(demo_servers) -> tuple[dict, dict]:
    """The servers' deadlines, all waited out side by side, so that the module
    waits once rather than for each server and each deadline:

    - for each of SERVERS, how many of 20 GET /health it answered while
      SLOW_CLIENTS slow clients held connections to it, and what it sent each
      of those before it closed the connection;
    - for each of STOPS, the output and exit status of a server told to stop
      while a video query was stuck on it.
    """
    with contextlib.ExitStack() as stack:
        connections = {
            name: stack.enter_context(slow_connections("127.0.0.1", port_of(base), SLOW_CLIENTS))
            for name, base in demo_servers.items()
        }
        answered = {name: len(health_latencies_ms(base, 20)) for name, base in demo_servers.items()}
        stopping = stuck_servers_told_to_stop(stack)
        # Each has the head's deadline from its opening; a few more to be let go.
        closings = read_until_closed(sum(connections.values(), []), DEADLINES.head_seconds + 10)
        # Hangs without the deadline; the margin only absorbs a busy machine.
        stops = {
            case: (
                process.communicate(timeout=DEADLINES.exit_seconds + 20)[0],
                process.returncode,
            )
            for case, process in stopping.items()
        }
    visits = {
        name: (answered[name], closings[SLOW_CLIENTS * k : SLOW_CLIENTS * (k + 1)])
        for k, name in enumerate(connections)
    }
    return visits, stops


@pytest.fixture(scope="module")
def stopped_stuck_servers(deadlines_waited_out) -> dict[tuple[str, signal.Signals], tuple[str, int]]:
    return deadlines_waited_out[1]


@pytest.mark.parametrize("workers, stop", STOPS)
def test_a_server_with_a_stuck_request_stops_within_the_deadline(
    stopped_stuck_servers, workers, stop
):
    output, returncode = stopped_stuck_servers[workers, stop]
    assert "Cancel 1 running task(s), timeout graceful shutdown exceeded" in output
    if workers == "1" and (stop == signal.SIGTERM or ON_PYPY):
        # uvicorn raises the signal again once stopped, so that the status says
        # so. CPython then waits at exit for the thread that the stuck query
        # holds, until the deadline ends the process; PyPy does not wait, so
        # SIGINT raised again ends it at once.
        assert returncode == -stop
    else:
        assert returncode == 0
        exit_seconds = DEADLINES.exit_seconds
        assert f"still running {exit_seconds} s after the signal to stop; exiting" in output


def wait_for_sighup(ready) -> None:
    """A worker's stand-in: ended by the first SIGHUP once `ready` is set."""
    signal.signal(signal.SIGHUP, signal.SIG_DFL)  # whatever this process had
    ready.set()
    while True:
        signal.pause()


def test_a_signal_passed_on_to_workers_passes_over_one_that_has_exited():
    fork = multiprocessing.get_context("fork")
    exited = fork.Process(target=int)
    exited.start()
    exited.join()  # reaped, as the supervisor reaps a worker it replaces
    ready = fork.Event()
    waiting = fork.Process(target=wait_for_sighup, args=(ready,))
    waiting.start()
    assert ready.wait(START_SECONDS)
    workers._pass_on([exited, waiting], signal.SIGHUP)
    waiting.join(START_SECONDS)
    assert (exited.exitcode, waiting.exitcode) == (0, -signal.SIGHUP)


def worker_pids(supervisor: int) -> list[int]:
    with open(f"/proc/{supervisor}/task/{supervisor}/children") as children:
        return [int(child) for child in children.read().split()]


def is_running(pid: int) -> bool:
    """Whether `pid` runs (a zombie that nobody reaped does not)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rpartition(")")[2].split()[0] != "Z"
    except FileNotFoundError:
        return False


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_workers_stop_when_their_supervisor_is_killed():
    with running_server("--demo", "--workers", "2", *DEADLINE_OPTIONS) as (base, process):
        workers = worker_pids(process.pid)
        assert len(workers) == 2
        try:
            process.kill()
            process.wait()
            deadline = time.monotonic() + DEADLINES.exit_seconds + 20
            while any(map(is_running, workers)) and time.monotonic() < deadline:
                time.sleep(0.1)
            assert not any(map(is_running, workers))
            with pytest.raises(OSError):
                get_json(base + "/health")
        finally:
            for pid in filter(is_running, workers):
                os.kill(pid, signal.SIGKILL)
