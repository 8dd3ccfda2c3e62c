"""A server whose /videos never answers, for the tests of stopping a server
with a request under way: each video query prints QUERY_UNDER_WAY and then
waits for good on its thread, where no cancellation reaches it.

Usage: python stuck_server.py --workers N --shutdown-grace S --port P
"""

from __future__ import annotations

import argparse
import threading

import kelnor
from kelnor.server import Deadlines, create_app, index_info, serve

QUERY_UNDER_WAY = "a video query is under way"


class StuckIndex:
    def _is_folded(self) -> bool:
        return False

    def fuzzy_match_video(self, *args: object, **keywords: object) -> list[tuple[str, float]]:
        print(QUERY_UNDER_WAY, flush=True)
        threading.Event().wait()
        return []


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--workers", type=int, default=1)
    parser.add_argument("--shutdown-grace", type=int, required=True)
    parser.add_argument("--port", type=int, required=True)
    args = parser.parse_args()
    health = kelnor.build([("stuck", 1, 1)])
    app = create_app(StuckIndex(), index_info("stuck", health, "00000000"))  # type: ignore[arg-type]
    serve(app, "127.0.0.1", args.port, args.workers, Deadlines(10, args.shutdown_grace))


if __name__ == "__main__":
    main()
