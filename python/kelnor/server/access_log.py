"""`kelnor serve --access-log`: a line per request, `METHOD PATH STATUS MILLISECONDS`."""

from __future__ import annotations

import logging
import re
from typing import TextIO

from kelnor.server.answered import ASGIApp, Scope, when_answered

_LOG = logging.getLogger("uvicorn.error")

# What a path may show as it is: printable ASCII but the space.
_UNSHOWN = re.compile(rb"[^!-~]")


def _escaped(byte: re.Match[bytes]) -> bytes:
    return b"\\x%02x" % byte[0][0]


def logged(app: ASGIApp, log: TextIO) -> ASGIApp:
    """`app`, writing a line to `log` for each HTTP request as the last part
    of its answer leaves (`answered`): its method; its path as sent, still
    %-escaped, without the query string (which holds what visitors type),
    any byte but printable ASCII shown as \\xHH (so a line holds no control
    character and no space); the status answered; and the milliseconds from
    its arrival to then. A line that cannot be written (a full disk) is
    dropped, said once on the error log: the request is answered all the same."""
    failed = False

    def write(scope: Scope, status: int, seconds: float) -> None:
        nonlocal failed
        sent_path = scope.get("raw_path") or scope["path"].encode()
        path = _UNSHOWN.sub(_escaped, sent_path.split(b"?", 1)[0]).decode("ascii")
        try:
            log.write(f"{scope['method']} {path} {status} {seconds * 1000:.3f}\n")
        except (OSError, ValueError) as error:  # ValueError: the file is closed
            if not failed:
                failed = True
                _LOG.error("cannot write the access log (%s); dropping its lines", error)

    return when_answered(app, write)
