"""Limits on how long and how large a request's line and headers may be.

uvicorn's HTTP protocols time out a kept-alive connection only until its first
byte, and its fast parser bounds no header: a client that opens a connection
and sends nothing, or half a request line, or headers without the blank line
that ends them, would hold the connection for good, and one header of a
hundred megabytes would hold the event loop while the parser gathers it. The
protocol here wraps uvicorn's own (whichever parser it picked) with two limits
on a connection that waits for a request:

- its request line and headers must end within HEAD_SECONDS of the moment it
  began waiting (its opening, or the end of its previous answer); else it is
  closed, with a 408 if part of a request had come;
- at most MAX_HEAD_BYTES may arrive between the end of one request's headers
  (or the opening) and the end of the next's; else the connection is refused
  with a 431. No endpoint takes a body, so a body counts too.
"""

from __future__ import annotations

import asyncio
import http
import json
from typing import Any, Optional

from uvicorn.protocols.http.auto import AutoHTTPProtocol

HEAD_SECONDS = 10.0
MAX_HEAD_BYTES = 65536


def refusal(status: int, reason: str) -> bytes:
    """A whole response of `status` whose JSON body gives `reason`, as the
    application's own refusals do, closing the connection."""
    body = json.dumps({"error": reason}, ensure_ascii=False, separators=(",", ":")).encode()
    head = (
        f"HTTP/1.1 {status} {http.HTTPStatus(status).phrase}\r\n"
        "content-type: application/json\r\n"
        f"content-length: {len(body)}\r\n"
        "connection: close\r\n\r\n"
    )
    return head.encode("ascii") + body


TIMED_OUT = refusal(408, f"the request line and headers did not arrive within {HEAD_SECONDS:g} s")
TOO_LARGE = refusal(431, f"the request line and headers take more than {MAX_HEAD_BYTES} bytes")


class HeadLimits(asyncio.Protocol):
    """The limits, for a subclass that also derives from a uvicorn protocol,
    whose `transport`, `loop` and `cycle` (the request being answered, None
    before the first) it reads."""

    transport: asyncio.Transport
    loop: asyncio.AbstractEventLoop
    cycle: Any

    # The request whose headers ended last; a new one means a new head ended.
    _last_head: Any = None
    # Bytes received since then.
    _head_bytes = 0
    _head_timer: Optional[asyncio.TimerHandle] = None

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        super().connection_made(transport)
        self._start_waiting()

    def connection_lost(self, exc: Optional[Exception]) -> None:
        self._stop_timer()
        super().connection_lost(exc)

    def data_received(self, data: bytes) -> None:
        # Fed at most up to the limit, so that the parser never holds more.
        room = MAX_HEAD_BYTES - self._head_bytes
        self._head_bytes += min(len(data), room)
        super().data_received(data[:room])
        if self.transport.is_closing():
            return
        if self.cycle is not self._last_head:
            self._last_head = self.cycle
            self._head_bytes = 0
            self._stop_timer()
            if len(data) > room:
                self.data_received(data[room:])
        elif self._head_bytes == MAX_HEAD_BYTES:
            self._refuse(TOO_LARGE)

    def on_response_complete(self) -> None:
        super().on_response_complete()  # type: ignore[misc]  # uvicorn's protocol has it
        # A pipelined request may have started in its place.
        if self.cycle.response_complete and not self.transport.is_closing():
            self._start_waiting()

    def _start_waiting(self) -> None:
        self._stop_timer()
        self._head_timer = self.loop.call_later(HEAD_SECONDS, self._head_timed_out)

    def _stop_timer(self) -> None:
        if self._head_timer is not None:
            self._head_timer.cancel()
            self._head_timer = None

    def _head_timed_out(self) -> None:
        self._head_timer = None
        if self._head_bytes:
            self._refuse(TIMED_OUT)
        else:
            self.transport.close()

    def _refuse(self, response: bytes) -> None:
        # Mid-answer, a refusal would garble the answer: the connection just ends.
        if self.cycle is None or self.cycle.response_complete:
            self.transport.write(response)
        self.transport.close()


# uvicorn's protocol over the fast parser where it is installed, else h11.
GuardedHTTPProtocol: type[asyncio.Protocol] = type(
    "GuardedHTTPProtocol", (HeadLimits, AutoHTTPProtocol), {}
)
