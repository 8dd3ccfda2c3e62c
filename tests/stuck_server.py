"""A server whose /videos answers only when the test lets it, for the tests of
stopping a server with a request under way: each video query prints
QUERY_UNDER_WAY and then waits on its thread, where no cancellation reaches
it, for good, or with --until FILE until FILE exists (and then answers video 1).

Usage: python stuck_server.py --workers N [--shutdown-grace S] --port P [--until FILE]
"""

from __future__ import annotations

import argparse
import os
import threading
import time

import kelnor
from kelnor.server import Deadlines, create_app, index_info, serve

QUERY_UNDER_WAY = "a video query is under way"
RELEASE_POLL_SECONDS = 0.05


class StuckIndex:
    def __init__(self, until: str | None) -> None:
        self.until = until

    def _is_folded(self) -> bool:
        return False

    def fuzzy_match_video(self, *args: object, **keywords: object) -> list[tuple[str, float]]:
        print(QUERY_UNDER_WAY, flush=True)
        if self.until is None:
            threading.Event().wait()
        # A file, since the forked workers share no other channel with the test.
        while not os.path.exists(self.until):
            time.sleep(RELEASE_POLL_SECONDS)
        return [("1", 1.0)]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--workers", type=int, default=1)
    parser.add_argument("--shutdown-grace", type=int, default=5)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--until")
    args = parser.parse_args()
    health = kelnor.build([("stuck", 1, 1)])
    stuck = StuckIndex(args.until)
    app = create_app(stuck, index_info("stuck", health, "00000000"))  # type: ignore[arg-type]
    serve(app, "127.0.0.1", args.port, args.workers, Deadlines(10, args.shutdown_grace))


if __name__ == "__main__":
    main()
