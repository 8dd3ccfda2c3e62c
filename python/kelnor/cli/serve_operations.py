"""`kelnor serve`'s options for the people who run it: --metrics,
--access-log and --cors-origin, and what they set up before the server starts."""

from __future__ import annotations

import argparse
import contextlib
import re
import sys
from typing import TYPE_CHECKING, Callable

from kelnor.cli.user_input import CommandError

if TYPE_CHECKING:  # the server, and so its extra, is imported only to serve
    from kelnor.server.operations import Operations

STDERR = "-"
# What a browser sends as Origin: a scheme and a host, maybe a port, no path.
_ORIGIN = re.compile(r"[a-z][a-z0-9+.-]*://[^/\s?#]+", re.IGNORECASE)
# The ports that a browser leaves out of the Origin it sends.
_DEFAULT_PORTS = {"http": ":80", "https": ":443"}


def _origin(text: str) -> str:
    """`text` as a browser sends the origin (compared exactly): in lower case
    and without its scheme's default port."""
    if text == "*":
        return text
    if _ORIGIN.fullmatch(text) is None:
        raise argparse.ArgumentTypeError(
            f"expected * or an origin such as https://example.org (no path), got {text!r}"
        )
    if not text.isascii():
        raise argparse.ArgumentTypeError(
            f"expected the host in ASCII, as browsers send it (xn-- for a name "
            f"in another script), got {text!r}"
        )
    origin = text.lower()
    default_port = _DEFAULT_PORTS.get(origin.partition("://")[0])
    return origin.removesuffix(default_port) if default_port else origin


def add_operations_arguments(serve: argparse.ArgumentParser) -> None:
    serve.add_argument(
        "--metrics",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="serve the request counts and timings at /metrics (default on)",
    )
    serve.add_argument(
        "--access-log",
        nargs="?",
        const=STDERR,
        metavar="FILE",
        help="write a line per request (method, path, status, milliseconds) to FILE, "
        "appended, or without FILE to standard error (default: none)",
    )
    serve.add_argument(
        "--cors-origin",
        action="append",
        type=_origin,
        default=[],
        metavar="ORIGIN",
        help="let pages of ORIGIN (such as https://example.org, or * for any) read the "
        "API's answers; may be given several times (default: none)",
    )


def operations_of(
    args: argparse.Namespace, resources: contextlib.ExitStack
) -> tuple[Operations, Callable[[int], None]]:
    """The Operations that `args` ask for, and what the supervisor tells of
    each worker that exits. What they open is closed by `resources`: call
    before the application is made, whose figures go where this says."""
    from kelnor.server.metrics import forget_worker, shared_by_workers
    from kelnor.server.operations import Operations

    log = None
    if args.access_log == STDERR:
        log = sys.stderr
    elif args.access_log is not None:
        try:
            log = resources.enter_context(
                open(args.access_log, "a", buffering=1, encoding="utf-8")
            )
        except OSError as error:
            raise CommandError(
                f"cannot open the access log {args.access_log}: {error.strerror}"
            ) from None
    if args.metrics and args.workers > 1:
        resources.enter_context(shared_by_workers())
    return Operations(args.metrics, log, tuple(args.cors_origin)), forget_worker
