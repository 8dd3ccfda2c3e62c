"""Telling of each HTTP request once it is answered: the one ASGI wrapper
that /metrics and the access log share."""

from __future__ import annotations

import time
from typing import Any, Awaitable, Callable, MutableMapping

Scope = MutableMapping[str, Any]
Message = MutableMapping[str, Any]
Receive = Callable[[], Awaitable[Message]]
Send = Callable[[Message], Awaitable[None]]
ASGIApp = Callable[[Scope, Receive, Send], Awaitable[None]]
# Told of a request: its scope, the status answered and the seconds it took.
Report = Callable[[Scope, int, float], None]


def when_answered(app: ASGIApp, report: Report) -> ASGIApp:
    """`app`, calling `report` for each HTTP request as the last part of its
    answer leaves, with the seconds since the request reached the wrapper
    (so a request is reported before its client has the whole answer). A
    request whose application raised before its answer ended is reported
    with the status it began, or 500, which the outer error handler then
    answers."""

    async def reporting_app(scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await app(scope, receive, send)
            return
        status = 0

        async def sent(message: Message) -> None:
            nonlocal status
            if message["type"] == "http.response.start":
                status = message["status"]
            elif not message.get("more_body", False):
                report(scope, status, time.perf_counter() - start)
                status = -1  # reported
            await send(message)

        start = time.perf_counter()
        try:
            await app(scope, receive, sent)
        except BaseException:
            if status >= 0:
                report(scope, status or 500, time.perf_counter() - start)
            raise

    return reporting_app
