"""`kelnor serve`: the API through Starlette's test client, its refusals, the
counts /health reads from an image, and the command line's server process."""

from __future__ import annotations

import asyncio
import importlib.resources
import sys
import threading
import zlib

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

pytest.importorskip("starlette", reason="the serve extra is not installed")
pytest.importorskip("httpx", reason="Starlette's test client needs httpx")

import httpx  # noqa: E402
from serve_process import get_json, running_server  # noqa: E402
from starlette.testclient import TestClient  # noqa: E402
from test_cli import run  # noqa: E402

import kelnor  # noqa: E402
from _kelnor import PrefixSearch  # noqa: E402
from kelnor.server import create_app, demo_index, file_index_info, index_info  # noqa: E402

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
        transpositions=transpositions is True,
    )
    assert status == 200
    assert [tuple(s.values()) for s in body["suggestions"]] == expected
    assert body["took_ms"] >= 0


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
        q, 1 if max_dist is None else max_dist, 10 if limit is None else limit, min_score=min_score
    )
    assert status == 200
    assert [(v["id"], v["score"]) for v in body["videos"]] == expected


def test_the_flags_take_true_false_1_and_0():
    answers = {
        value: get(f"/suggest?q=harr&complete={value}")[1]["suggestions"]
        for value in ["true", "1", "false", "0"]
    }
    assert answers["true"] == answers["1"] != answers["false"] == answers["0"]


def test_health_reports_the_index():
    status, body = get("/health")
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
    paths = {route.path for route in CLIENT.app.routes} - {"/", "/openapi.json"}
    assert set(served_description()["paths"]) == paths


def test_the_openapi_description_names_each_endpoints_parameters():
    for path, operations in served_description()["paths"].items():
        names = [parameter["name"] for parameter in operations["get"].get("parameters", [])]
        if names:
            # The endpoint's refusal of an unknown parameter lists what it takes.
            status, refusal = get(f"{path}?q=a&nope=1")
            assert refusal["error"].endswith("this endpoint takes " + ", ".join(names))


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
    ],
)
@pytest.mark.parametrize("path", ["/suggest", "/videos"])
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
    ],
)
def test_each_endpoint_refuses_its_own_way(path, reason):
    assert get(path) == (400, {"error": reason})


def test_the_longest_q_is_accepted():
    status, _ = get("/videos?q=" + "é" * 256)
    assert status == 200


@pytest.mark.parametrize(
    "method, path, status, reason",
    [
        ("GET", "/search", 404, "Not Found"),
        ("POST", "/videos?q=a", 405, "Method Not Allowed"),
    ],
)
def test_unknown_routes_and_methods_get_json(method, path, status, reason):
    response = CLIENT.request(method, path)
    assert (response.status_code, response.json()) == (status, {"error": reason})


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
    """Stands for an index whose video query waits until it is let go."""

    def __init__(self) -> None:
        self.entered = threading.Event()
        self.release = threading.Event()

    def fuzzy_match_video(self, *args, **keywords):
        self.entered.set()
        assert self.release.wait(10)
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


def test_the_demo_index_is_the_shipped_sample():
    index, info = demo_index()
    assert (info.source, info.terms, info.videos) == ("demo", 37372, 2000)
    assert info.checksum == f"{zlib.crc32(index.to_bytes()):08x}"


# ---------------------------------------------------------------- the command


@pytest.mark.parametrize(
    "argv, message",
    [
        ([], "one of the arguments INDEX.bin --demo is required"),
        (["x.bin", "--demo"], "argument --demo: not allowed with argument INDEX.bin"),
        (["--demo", "--port", "0"], "expected a whole number from 1 to 65535, got '0'"),
        (["--demo", "--workers", "0"], "expected a whole number from 1 to 64, got '0'"),
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
        f"kelnor: {path} is not an index image (decode error: "
        "InvalidIntegerType { expected: U64, found: Reserved })\n",
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
