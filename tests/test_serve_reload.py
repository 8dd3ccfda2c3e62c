"""`kelnor serve` serving a new index (and catalogue) written over the old
one: reloading through the application's reloader, refusals that keep the old
index serving, and a real server on SIGHUP and on its own."""

from __future__ import annotations

import os
import select
import signal
import subprocess
import sys
import threading
import time
from collections.abc import Callable
from pathlib import Path

import pytest

pytest.importorskip("starlette", reason="the serve extra is not installed")
pytest.importorskip("httpx", reason="Starlette's test client needs httpx")

from conftest import ON_PYPY  # noqa: E402
from serve_process import START_SECONDS, get_json, running_server  # noqa: E402
from starlette.testclient import TestClient  # noqa: E402
from test_cli import run  # noqa: E402

import kelnor  # noqa: E402
from kelnor.server import (  # noqa: E402
    Catalogue,
    CatalogueSource,
    ReloadPlan,
    create_app,
    file_index_info,
    load_catalogue,
)
from kelnor.server import freed_memory  # noqa: E402

OLD = kelnor.build([("harry", 7, 3), ("hare", 8, 2)])
NEW = kelnor.build([("harold", 9, 4), ("hermione", 9, 1)])


def replace(path: Path, index: kelnor.PrefixSearch) -> str:
    """Writes `index` over `path` as `kelnor build -o` does (a rename); its checksum."""
    written = path.with_suffix(".new")
    kelnor.save(index, written)
    os.replace(written, path)
    return kelnor.file_info(path).checksum


def served_app(
    path: Path, catalogue: Path | None = None, interval: float = 0
) -> tuple[TestClient, object]:
    """A client of the application serving `path` (and `catalogue`), looking
    at them every `interval` seconds while its lifespan runs, and its reloader."""
    index = kelnor.load(path)
    source = None
    if catalogue is not None:
        source = CatalogueSource(str(catalogue), "id", "title", "url", "thumbnail")
    loaded = None if source is None else load_catalogue(source)
    plan = ReloadPlan(str(path), source, interval)
    app = create_app(index, file_index_info(str(path), index), loaded, plan)
    return TestClient(app), app.state.reloader


def terms(client: TestClient, typed: str) -> list[str]:
    found = client.get(f"/suggest?q={typed}&max_dist=0").json()["suggestions"]
    return [suggestion["term"] for suggestion in found]


def test_a_replaced_index_is_served_once_reloaded(tmp_path):
    path = tmp_path / "words.bin"
    old_checksum = replace(path, OLD)
    client, reloader = served_app(path)
    first = client.get("/health").json()
    assert (first["checksum"], terms(client, "h")) == (old_checksum, ["harry", "hare"])
    assert not reloader.changed()
    new_checksum = replace(path, NEW)
    assert reloader.changed()
    reloader.reload()
    health = client.get("/health").json()
    assert (health["checksum"], health["terms"]) == (new_checksum, 2)
    assert health["loaded_at"] >= first["loaded_at"]
    assert terms(client, "h") == ["harold", "hermione"]
    assert not reloader.changed()


# Each spoils the index file at `path`: what the refusal says (all of it, or
# how it starts where it goes on with checksums).
@pytest.mark.skipif(ON_PYPY, reason="PyPy counts no references")
def test_the_replaced_index_is_no_longer_held(tmp_path):
    path = tmp_path / "words.bin"
    replace(path, OLD)
    index = kelnor.load(path)
    alone = sys.getrefcount(index)
    app = create_app(index, file_index_info(str(path), index), None, ReloadPlan(str(path), None, 0))
    assert TestClient(app).get("/suggest?q=har").status_code == 200
    assert sys.getrefcount(index) > alone  # served
    replace(path, NEW)
    app.state.reloader.reload()
    assert sys.getrefcount(index) == alone


@pytest.mark.skipif(ON_PYPY, reason="PyPy counts no references and frees when it collects")
def test_memory_is_given_back_once_the_last_request_on_the_replaced_index_ends(
    tmp_path, monkeypatch
):
    path = tmp_path / "words.bin"
    replace(path, OLD)
    index = kelnor.load(path)
    alone = sys.getrefcount(index)
    holders_at_trim: list[int] = []
    trimmed = threading.Event()

    def trim() -> None:
        holders_at_trim.append(sys.getrefcount(index))
        trimmed.set()

    monkeypatch.setattr(freed_memory, "give_back_freed_memory", trim)
    app = create_app(index, file_index_info(str(path), index), None, ReloadPlan(str(path), None, 0))
    under_way = app.state.reloader.served_now()  # as a request holds it
    replace(path, NEW)
    app.state.reloader.reload()
    assert under_way.prefix_search is index
    del under_way  # the request ends
    assert trimmed.wait(START_SECONDS)
    # Once, with nothing of the server's left holding the index.
    assert holders_at_trim == [alone]


def _damaged(path: Path) -> str:
    replace(path, NEW)
    image = bytearray(path.read_bytes())
    image[-1] ^= 0xFF  # in the last section
    path.write_bytes(bytes(image))
    return f"{path} is corrupted: its own counts section's CRC-32 is "


def _not_an_index(path: Path) -> str:
    path.write_bytes(b"\xff")
    return f"{path} is not a kelnor index: it has no index file header and is no index image\n"


def _removed(path: Path) -> str:
    path.unlink()
    return "No such file or directory\n"


@pytest.mark.parametrize("spoil", [_damaged, _not_an_index, _removed])
def test_a_new_file_that_cannot_be_loaded_is_refused_and_the_old_index_serves(
    tmp_path, capsys, spoil
):
    path = tmp_path / "words.bin"
    old_checksum = replace(path, OLD)
    client, reloader = served_app(path)
    reason = spoil(path)
    reloader.reload()
    refusal = capsys.readouterr().err
    assert refusal.startswith(f"kelnor: cannot reload {path}: {reason}")
    assert refusal.count("\n") == 1
    assert client.get("/health").json()["checksum"] == old_checksum
    assert terms(client, "h") == ["harry", "hare"]
    assert not reloader.changed()  # refused once, not again until it changes


def write_catalogue(path: Path, titles: dict[int, str]) -> None:
    path.write_text("id,title\n" + "".join(f"{v},{t}\n" for v, t in titles.items()), "utf-8")


def test_the_catalogue_reloads_with_the_index_and_a_bad_one_keeps_both_old(tmp_path, capsys):
    path, catalogue = tmp_path / "words.bin", tmp_path / "videos.csv"
    replace(path, OLD)
    write_catalogue(catalogue, {7: "Old seven", 8: "Old eight"})
    client, reloader = served_app(path, catalogue)
    write_catalogue(catalogue, {7: "New seven", 8: "New eight", 9: "New nine"})
    new_checksum = replace(path, NEW)
    reloader.reload()
    found = client.get("/videos?q=harold&max_dist=0").json()["videos"]
    assert [(video["id"], video["catalogue"]["title"]) for video in found] == [("9", "New nine")]
    catalogue.write_text("id,name\n9,x\n", "utf-8")
    replace(path, OLD)
    reloader.reload()
    assert capsys.readouterr().err == (
        f"kelnor: cannot reload {path}: the catalogue {catalogue} has no column 'title' "
        "(its columns: 'id', 'name'); --videos-title-column names the column to use\n"
    )
    assert client.get("/health").json()["checksum"] == new_checksum


def test_a_reload_failing_unexpectedly_is_refused_and_the_watcher_goes_on(
    tmp_path, capsys, monkeypatch
):
    path = tmp_path / "words.bin"
    old_checksum = replace(path, OLD)
    client, _ = served_app(path, interval=0.01)
    failed = threading.Event()

    def load_failing_once(path: str) -> kelnor.PrefixSearch:
        if not failed.is_set():
            failed.set()
            raise RuntimeError("a fault of ours")
        return kelnor.load(path)

    monkeypatch.setattr("kelnor.server.reloader.load", load_failing_once)
    with client:  # its lifespan runs the watcher
        replace(path, NEW)
        assert failed.wait(START_SECONDS)
        assert client.get("/health").json()["checksum"] == old_checksum
        wait_for_checksum(lambda: client.get("/health").json(), replace(path, NEW))
    message = f"kelnor: cannot reload {path}: RuntimeError: a fault of ours\n"
    assert capsys.readouterr().err == message


def test_an_index_replaced_while_the_server_starts_is_reloaded_at_the_first_look(
    tmp_path, capsys, monkeypatch
):
    path, catalogue = tmp_path / "words.bin", tmp_path / "videos.csv"
    replace(path, OLD)
    write_catalogue(catalogue, {7: "Seven"})

    def replacing_the_index(source: CatalogueSource) -> Catalogue:
        replace(path, NEW)  # after the index was read
        return load_catalogue(source)

    started = []
    monkeypatch.setattr("kelnor.server.load_catalogue", replacing_the_index)
    monkeypatch.setattr("kelnor.server.serve", lambda app, *_: started.append(app))
    assert run(capsys, "serve", path, "--videos", catalogue)[0] == 0
    assert started[0].state.reloader.changed()


def test_a_worker_forked_after_a_reload_serves_the_new_file_from_its_first_request(
    tmp_path, monkeypatch
):
    path = tmp_path / "words.bin"
    replace(path, OLD)
    client, reloader = served_app(path)
    new_checksum = replace(path, NEW)  # as a worker forked with the first index finds it
    load = reloader._load
    monkeypatch.setattr(reloader, "_load", lambda: (time.sleep(0.5), load())[1])
    with client:
        assert client.get("/health").json()["checksum"] == new_checksum


def wait_for_checksum(health: Callable[[], dict], checksum: str) -> None:
    """Returns once `health()`, an answer of /health, reports `checksum`;
    fails after START_SECONDS."""
    deadline = time.monotonic() + START_SECONDS
    while health()["checksum"] != checksum:
        assert time.monotonic() < deadline, f"still not serving {checksum}"
        time.sleep(0.1)


def read_until(process: subprocess.Popen, count: int, text: str) -> str:
    """The server's output up to where it holds `text` `count` times; fails
    after START_SECONDS."""
    assert process.stdout is not None
    output, deadline = b"", time.monotonic() + START_SECONDS
    while output.decode(errors="replace").count(text) < count:
        left = deadline - time.monotonic()
        assert left > 0, f"the server did not say {text!r} {count} times:\n{output!r}"
        if select.select([process.stdout], [], [], left)[0]:
            output += os.read(process.stdout.fileno(), 65536)
    return output.decode(errors="replace")


@pytest.mark.parametrize("workers", [1, 2])
def test_a_server_reloads_on_sighup_and_refuses_a_damaged_file(tmp_path, workers):
    path = tmp_path / "words.bin"
    replace(path, OLD)
    options = ("--workers", str(workers), "--reload-interval", "0")
    with running_server(str(path), *options) as (base, process):
        new_checksum = replace(path, NEW)
        process.send_signal(signal.SIGHUP)
        wait_for_checksum(lambda: get_json(base + "/health"), new_checksum)
        _damaged(path)
        process.send_signal(signal.SIGHUP)
        refusal = f"kelnor: cannot reload {path}: "
        read_until(process, workers, refusal)  # one line from each worker
        for _ in range(10):  # whichever worker answers
            assert get_json(base + "/health")["checksum"] == new_checksum
    # Stopped by the SIGTERM at the end, not by a SIGHUP.
    assert process.returncode == (0 if workers > 1 else -signal.SIGTERM)


def test_a_lone_server_serves_a_replaced_file_on_its_own(tmp_path):
    path = tmp_path / "words.bin"
    replace(path, OLD)
    with running_server(str(path), "--reload-interval", "1") as (base, _):
        wait_for_checksum(lambda: get_json(base + "/health"), replace(path, NEW))
        assert get_json(base + "/suggest?q=herm&max_dist=0")["suggestions"][0]["term"] == "hermione"


def test_a_server_with_nothing_to_reload_ignores_sighup():
    with running_server("--demo") as (base, process):
        process.send_signal(signal.SIGHUP)
        assert get_json(base + "/health")["index"] == "demo"
    assert process.returncode == -signal.SIGTERM
