"""Limits on how long and how large a request's line and headers may be.

uvicorn's HTTP protocols time out a kept-alive connection only until its first
byte, and its fast parser bounds no header: a client that opens a connection
and sends nothing, or half a request line, or headers without the blank line
that ends them, would hold the connection for good, and one header of a
hundred megabytes would hold the event loop while the parser gathers it. The
protocol here wraps uvicorn's own (whichever parser it picked) with two limits
on a connection that waits for a request:

- its request line and headers must end within `head_seconds` (the
  server's `Deadlines`) of the moment it began waiting (its opening, or the
  end of its previous answer); else it is closed, with a 408 if part of a
  request had come (sent ahead, with the previous request, included);
- at most MAX_HEAD_BYTES may arrive from the moment it began waiting to the
  end of the request's headers; else the connection is refused with a 431.
  Bytes sent ahead, while a request is answered, count for the next request
  only from the end of that answer; past the limit, reading them waits for it.

A request answered before its body ended (no route reads a body: a POST is
answered 405 at once) leaves the parser reading that body, which it drops.
Those bytes are no head and count toward neither limit, but the rest of the
body and the next head both have to arrive within `head_seconds` of the
answer's end; a connection still in that body then is closed.

A client that sends requests and reads none of the answers would hold its
connection, and every answer written to it, for good: an answer waits for
room to write, and closing a connection waits for what it has yet to send.
So a connection whose client takes none of what it is sent for
`head_seconds`, while answers wait for room or a closed connection's last
bytes wait to be sent, is reset; one that takes some has as long again.

Its refusals, and the two that uvicorn would make in plain text (a 400 for
what is no HTTP request, a 503 past the limit of connections and requests at
once, `limit_concurrency`), are JSON like the application's own, and no
cache keeps them. Each is told to `on_refusal` by its reason (as
`metrics.REFUSALS` names them), since the application never sees it.
"""

from __future__ import annotations

import asyncio
import contextlib
import http
import json
import socket
import struct
import sys
from typing import Any, Callable, Optional

import h11
from starlette.types import ASGIApp, Receive, Scope, Send
from uvicorn.protocols.http.auto import AutoHTTPProtocol

# Linux's ioctl for the bytes a socket holds that it has not yet sent
# (SIOCOUTQNSD): those it sent and awaits the client's word for are left out,
# since the client's system takes them whether or not the client reads.
_UNSENT_IN_KERNEL = 0x894B if sys.platform.startswith("linux") else None

MAX_HEAD_BYTES = 65536


def _refusal_body(reason: str) -> bytes:
    return json.dumps({"error": reason}, ensure_ascii=False, separators=(",", ":")).encode()


def _refusal_headers(body: bytes) -> list[tuple[bytes, bytes]]:
    return [
        (b"content-type", b"application/json"),
        (b"content-length", str(len(body)).encode("ascii")),
        (b"cache-control", b"no-store"),
        (b"connection", b"close"),
    ]


def refusal(status: int, reason: str) -> bytes:
    """A whole response of `status` whose JSON body gives `reason`, as the
    application's own refusals do, closing the connection."""
    body = _refusal_body(reason)
    head = [f"HTTP/1.1 {status} {http.HTTPStatus(status).phrase}\r\n".encode("ascii")]
    head += [name + b": " + value + b"\r\n" for name, value in _refusal_headers(body)]
    return b"".join(head) + b"\r\n" + body


def timed_out(head_seconds: int) -> bytes:
    """The answer to a request whose head did not end within `head_seconds`."""
    return refusal(408, f"the request line and headers did not arrive within {head_seconds} s")


TOO_LARGE = refusal(431, f"the request line and headers take more than {MAX_HEAD_BYTES} bytes")
NOT_HTTP = refusal(400, "the request is not HTTP/1.1 that this server can read")
TOO_MANY_REASON = "the server holds as many connections and requests as it can; try again later"


class HeadLimits(asyncio.Protocol):
    """The limits, for a subclass that also derives from a uvicorn protocol,
    whose `transport`, `loop`, `flow` (its control of reading) and `cycle`
    (the request last read, None before the first) it reads, and which sets
    `head_seconds` (see `guarded_protocol`)."""

    head_seconds: int
    on_refusal: Callable[[str], None]
    transport: asyncio.Transport
    loop: asyncio.AbstractEventLoop
    flow: Any
    cycle: Any

    # uvicorn's: the protocol's application, the server's connections and
    # requests under way, and the most of either at once.
    app: ASGIApp
    connections: set[Any]
    tasks: set[Any]
    limit_concurrency: Optional[int]

    # Bytes received since the connection began waiting for a request, or,
    # while one is answered, since its headers ended.
    _bytes = 0
    _head_timer: Optional[asyncio.TimerHandle] = None
    # Runs while answers cannot be written, or a closed connection's cannot.
    _write_timer: Optional[asyncio.TimerHandle] = None
    # The bytes not yet taken by the client when the write timer was armed.
    _unsent_when_armed = 0
    # The fast parser: whether a request began since the last head ended,
    # whether it reads a request's body, and how many of its bytes it read
    # from the piece last received.
    _message_began = False
    _in_body = False
    _body_bytes = 0

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        # The limit is kept here rather than left to uvicorn, whose 503 is
        # plain text and would be sent in place of the application.
        self._most_at_once, self.limit_concurrency = self.limit_concurrency, None
        self._application, self.app = self.app, self._within_limit

    async def _within_limit(self, scope: Scope, receive: Receive, send: Send) -> None:
        most = self._most_at_once
        # As uvicorn counts, but from inside the request's own task.
        if most is not None and (len(self.connections) >= most or len(self.tasks) > most):
            self.on_refusal("too_many")
            body = _refusal_body(TOO_MANY_REASON)
            await send(
                {"type": "http.response.start", "status": 503, "headers": _refusal_headers(body)}
            )
            await send({"type": "http.response.body", "body": body, "more_body": False})
            return
        await self._application(scope, receive, send)

    def send_400_response(self, msg: str) -> None:
        """What uvicorn's parsers call for what is no HTTP request."""
        self._refuse(NOT_HTTP, "not_http")

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        super().connection_made(transport)
        self._start_waiting()

    def connection_lost(self, exc: Optional[Exception]) -> None:
        self._stop_timer()
        self._stop_write_timer()
        super().connection_lost(exc)

    def pause_writing(self) -> None:
        super().pause_writing()
        self._stop_write_timer()
        self._arm_write_timer()

    def on_message_begin(self) -> None:
        """The fast parser's: the first byte of a request was read."""
        super().on_message_begin()  # type: ignore[misc]  # the fast parser's protocol has it
        self._message_began = True

    def on_headers_complete(self) -> None:
        """The fast parser's: a request's head ended."""
        self._message_began = False
        self._in_body = True
        super().on_headers_complete()  # type: ignore[misc]  # the fast parser's protocol has it

    def on_body(self, body: bytes) -> None:
        """The fast parser's: part of a request's body was read."""
        self._body_bytes += len(body)
        super().on_body(body)  # type: ignore[misc]  # the fast parser's protocol has it

    def on_message_complete(self) -> None:
        """The fast parser's: a request's body ended."""
        self._in_body = False
        super().on_message_complete()  # type: ignore[misc]  # the fast parser's protocol has it

    def resume_writing(self) -> None:
        self._stop_write_timer()
        super().resume_writing()

    def data_received(self, data: bytes) -> None:
        if not self._waiting():
            # Sent ahead of the answer: the parser holds it (or queues the
            # requests it makes) until the answer is done. Past the limit,
            # reading waits for the answer too, so that it holds no more.
            self._bytes += len(data)
            super().data_received(data)
            if self._bytes >= MAX_HEAD_BYTES and not self._waiting():
                self.flow.pause_reading()
            return
        if self._reading_answered_body():
            # Fed whole, since the parser drops the body; the bytes after its
            # end are the next head's.
            self._body_bytes = 0
            super().data_received(data)
            if self.transport.is_closing() or self._reading_answered_body():
                return
            self._bytes += self._head_bytes_after_body(len(data))
            rest = b""
        else:
            # Fed at most up to the limit, so that the parser never holds more.
            room = MAX_HEAD_BYTES - self._bytes
            self._bytes += min(len(data), room)
            super().data_received(data[:room])
            if self.transport.is_closing():
                return
            rest = data[room:]
        if not self._waiting():  # the headers ended
            self._stop_timer()
            self._bytes = 0
            if rest:
                self.data_received(rest)
        elif self._bytes >= MAX_HEAD_BYTES:
            self._refuse(TOO_LARGE, "head_too_large")

    def on_response_complete(self) -> None:
        super().on_response_complete()  # type: ignore[misc]  # uvicorn's protocol has it
        self._bytes = 0
        # A request sent ahead may have started in its place.
        if self._waiting() and not self.transport.is_closing():
            self._start_waiting()
            if self._next_request_begun():
                # Part of the next request came with this one: the connection
                # is not idle, its head has the head's time, not keep-alive's.
                self._unset_keepalive_if_required()  # type: ignore[attr-defined]  # uvicorn's

    def _next_request_begun(self) -> bool:
        """Whether the parser holds part of a request that has not ended its head."""
        conn = getattr(self, "conn", None)  # h11's state of the connection
        if conn is not None:
            return bool(conn.trailing_data[0])
        return self._message_began

    def _reading_answered_body(self) -> bool:
        """Whether the parser reads the body of a request already answered."""
        conn = getattr(self, "conn", None)
        if conn is not None:
            return conn.their_state is h11.SEND_BODY
        return self._in_body

    def _head_bytes_after_body(self, received: int) -> int:
        """Of the `received` bytes in whose midst a body ended, those after it:
        what h11 holds unparsed, or what the fast parser did not read as body
        (which counts a chunked body's last sizes and line ends in)."""
        conn = getattr(self, "conn", None)
        if conn is not None:
            return len(conn.trailing_data[0])
        return received - self._body_bytes

    def _waiting(self) -> bool:
        """Whether the connection waits for a request (none is being answered)."""
        return self.cycle is None or bool(self.cycle.response_complete)

    def _start_waiting(self) -> None:
        self._stop_timer()
        self._head_timer = self.loop.call_later(self.head_seconds, self._head_timed_out)

    def _stop_timer(self) -> None:
        if self._head_timer is not None:
            self._head_timer.cancel()
            self._head_timer = None

    def _stop_write_timer(self) -> None:
        if self._write_timer is not None:
            self._write_timer.cancel()
            self._write_timer = None

    def _head_timed_out(self) -> None:
        self._head_timer = None
        # Part of a request came since it began waiting, or before.
        if self._bytes or self._next_request_begun():
            self._refuse(timed_out(self.head_seconds), "head_timeout")
        else:
            self._close()

    def _refuse(self, response: bytes, reason: str) -> None:
        self.on_refusal(reason)
        self.transport.write(response)
        self._close()

    def _close(self) -> None:
        """Closes the connection once what it has to send is sent, or within
        `head_seconds` if the client will not read it."""
        self.transport.close()
        if self.transport.get_write_buffer_size() and self._write_timer is None:
            self._arm_write_timer()

    def _arm_write_timer(self) -> None:
        self._unsent_when_armed = self._unsent()
        self._write_timer = self.loop.call_later(self.head_seconds, self._unread)

    def _unsent(self) -> int:
        """The bytes written that the client has not taken: the transport's,
        and, where the system tells, the socket's own."""
        unsent = self.transport.get_write_buffer_size()
        sock = self.transport.get_extra_info("socket")
        if sock is not None and _UNSENT_IN_KERNEL is not None:
            import fcntl  # Linux only, as the ioctl

            with contextlib.suppress(OSError, ValueError):
                queued = fcntl.ioctl(sock.fileno(), _UNSENT_IN_KERNEL, b"\0\0\0\0")
                unsent += struct.unpack("i", queued)[0]
        return unsent

    def _unread(self) -> None:
        """Ends a connection whose client has read nothing for `head_seconds`:
        one that took some of its answers since meanwhile has as long again."""
        self._write_timer = None
        if self._unsent() < self._unsent_when_armed:
            self._arm_write_timer()
            return
        self.on_refusal("unread_answers")
        # A reset: closed, the socket would go on holding the unsent answers
        # for as long as the client keeps its end open.
        sock = self.transport.get_extra_info("socket")
        if sock is not None:
            with contextlib.suppress(OSError):
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.transport.abort()


def _uncounted(reason: str) -> None:
    pass


def guarded_protocol(
    head_seconds: int,
    parser: type[asyncio.Protocol] = AutoHTTPProtocol,
    on_refusal: Optional[Callable[[str], None]] = None,
) -> type[asyncio.Protocol]:
    """uvicorn's protocol over `parser` (by default the fast parser where it
    is installed, else h11) with the limits, a request head having
    `head_seconds` to arrive, each refusal told to `on_refusal` if given."""
    told = _uncounted if on_refusal is None else on_refusal
    fields = {"head_seconds": head_seconds, "on_refusal": staticmethod(told)}
    return type("GuardedHTTPProtocol", (HeadLimits, parser), fields)
