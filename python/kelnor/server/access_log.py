"""`kelnor serve --access-log`: a line per request, `METHOD PATH STATUS MILLISECONDS`."""

from __future__ import annotations

import logging
import re
import time
from typing import TextIO

from kelnor.server.metrics import ASGIApp, Message, Receive, Scope, Send

_LOG = logging.getLogger("uvicorn.error")

# What a path may show as it is: printable ASCII but the space.
_UNSHOWN = re.compile(rb"[^!-~]")


def _escaped(byte: re.Match[bytes]) -> bytes:
    return b"\\x%02x" % byte[0][0]


def logged(app: ASGIApp, log: TextIO) -> ASGIApp:
    """`app`, writing a line to `log` for each HTTP request as the last part
    of its answer leaves: its method; its path as sent, still %-escaped,
    without the query string (which holds what visitors type), any byte but
    printable ASCII shown as \\xHH (so a line holds no control character and
    no space); the status answered (where the application raised before its
    answer ended, the status it began, or 500); and the milliseconds from its
    arrival to then. A line that cannot be written (a full disk) is dropped,
    said once on the error log: the request is answered all the same."""

    failed = False

    async def logged_app(scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await app(scope, receive, send)
            return
        status = 0

        def write() -> None:
            nonlocal failed
            milliseconds = (time.perf_counter() - start) * 1000
            sent_path = scope.get("raw_path") or scope["path"].encode()
            path = _UNSHOWN.sub(_escaped, sent_path.split(b"?", 1)[0]).decode("ascii")
            try:
                log.write(f"{scope['method']} {path} {status or 500} {milliseconds:.3f}\n")
            except (OSError, ValueError) as error:  # ValueError: the file is closed
                if not failed:
                    failed = True
                    _LOG.error("cannot write the access log (%s); dropping its lines", error)

        async def sent(message: Message) -> None:
            nonlocal status
            if message["type"] == "http.response.start":
                status = message["status"]
            elif not message.get("more_body", False):
                write()
                status = -1  # written
            await send(message)

        start = time.perf_counter()
        try:
            await app(scope, receive, sent)
        except BaseException:
            if status >= 0:
                write()
            raise

    return logged_app
