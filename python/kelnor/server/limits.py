"""How many connections a server process holds, and how long it takes to stop.

The limits on each request's line and headers are in `request_head_limits`.
"""

from __future__ import annotations

from dataclasses import dataclass

try:
    import resource
except ImportError:  # not on Windows, which leaves its open files unlimited
    resource = None  # type: ignore[assignment]

# An idle kept-alive connection is closed this long after its last answer.
KEEP_ALIVE_SECONDS = 5
# A process still there this long after its grace to stop (a query that
# cannot be cancelled holds a thread the interpreter would wait for) exits at once.
EXIT_MARGIN_SECONDS = 2
# Connections a process holds at most; past them, new requests get a 503.
MAX_CONNECTIONS = 10000
# Files a process keeps for other than connections: the index, the logs, the
# event loop's own.
OTHER_FILES = 64


@dataclass(frozen=True)
class Deadlines:
    """How long a server waits for a request's line and headers, and for the
    requests under way once it is told to stop (`kelnor serve --head-timeout`
    and `--shutdown-grace`)."""

    head_seconds: int
    shutdown_grace_seconds: int

    @property
    def exit_seconds(self) -> int:
        """Every server process is gone this long after the signal to stop."""
        return self.shutdown_grace_seconds + EXIT_MARGIN_SECONDS


def connection_limit() -> int:
    """The connections this process can hold, after raising its limit of open
    files as far as the system lets it: a connection is an open file, and the
    common default of 1024 is far fewer than a few thousand slow clients."""
    if resource is None:
        return MAX_CONNECTIONS
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = MAX_CONNECTIONS + OTHER_FILES
    if hard != resource.RLIM_INFINITY:
        wanted = min(wanted, hard)
    if soft != resource.RLIM_INFINITY and soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))
        soft = wanted
    if soft == resource.RLIM_INFINITY:
        return MAX_CONNECTIONS
    return max(1, min(MAX_CONNECTIONS, soft - OTHER_FILES))
