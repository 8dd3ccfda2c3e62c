"""Slow clients of a server: connections that open and then send nothing, half
a request line, or headers without the blank line that ends them, and stay
there. Used by the serve tests and by bench/serve_bench.py."""

from __future__ import annotations

import contextlib
import selectors
import socket
import time
import urllib.request
from collections.abc import Iterator

# What each kind of slow client sends before it stops, taken in turn.
SLOW_STARTS = [
    b"",
    b"GET /hea",
    b"GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: slow",
]


@contextlib.contextmanager
def slow_connections(host: str, port: int, count: int) -> Iterator[list[socket.socket]]:
    """`count` connections to `host`:`port`, each having sent one of SLOW_STARTS
    in turn; all closed afterwards."""
    connections: list[socket.socket] = []
    try:
        for number in range(count):
            connection = socket.create_connection((host, port), timeout=10)
            connections.append(connection)
            connection.sendall(SLOW_STARTS[number % len(SLOW_STARTS)])
        yield connections
    finally:
        for connection in connections:
            connection.close()


def read_until_closed(connections: list[socket.socket], seconds: float) -> list[bytes | None]:
    """What the server sent on each connection before it closed it, or None
    for each connection still open after `seconds`."""
    received = {connection: b"" for connection in connections}
    closed: dict[socket.socket, bytes] = {}
    with selectors.DefaultSelector() as selector:
        for connection in connections:
            connection.setblocking(False)
            selector.register(connection, selectors.EVENT_READ)
        deadline = time.monotonic() + seconds
        while len(closed) < len(connections) and time.monotonic() < deadline:
            for key, _ in selector.select(timeout=max(0.0, deadline - time.monotonic())):
                connection = key.fileobj
                assert isinstance(connection, socket.socket)
                try:
                    data = connection.recv(65536)
                except ConnectionResetError:
                    data = b""
                if data:
                    received[connection] += data
                else:
                    closed[connection] = received[connection]
                    selector.unregister(connection)
    return [closed.get(connection) for connection in connections]


def health_latencies_ms(base: str, count: int) -> list[float]:
    """The milliseconds each of `count` GET /health took in turn, each on a new
    connection; raises OSError if one fails."""
    latencies = []
    for _ in range(count):
        start = time.perf_counter()
        with urllib.request.urlopen(base + "/health", timeout=30) as response:
            response.read()
        latencies.append((time.perf_counter() - start) * 1000)
    return latencies
