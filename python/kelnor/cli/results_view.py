"""Query results as a readable table or as JSON."""

from __future__ import annotations

import json
from collections.abc import Sequence

NO_MATCHES = "no matches"


def table(headers: Sequence[str], rows: Sequence[Sequence[str]], right: Sequence[bool]) -> str:
    """Columns padded to their widest cell; `right[i]` aligns column i to the right."""
    widths = [max(len(cell) for cell in column) for column in zip(headers, *rows)]
    lines = []
    for cells in [headers, *rows]:
        padded = [
            cell.rjust(width) if align_right else cell.ljust(width)
            for cell, width, align_right in zip(cells, widths, right)
        ]
        lines.append("  ".join(padded).rstrip())
    return "\n".join(lines)


def terms_view(matches: list[tuple[str, int, int]], as_json: bool) -> str:
    if as_json:
        return json.dumps(
            [{"term": term, "distance": distance} for term, _, distance in matches],
            ensure_ascii=False,
        )
    if not matches:
        return NO_MATCHES
    rows = [(term, str(distance)) for term, _, distance in matches]
    return table(("term", "distance"), rows, (False, True))


def videos_view(videos: list[tuple[str, float]], as_json: bool) -> str:
    if as_json:
        return json.dumps([{"video": video, "score": score} for video, score in videos])
    if not videos:
        return NO_MATCHES
    rows = [(video, f"{score:.4f}") for video, score in videos]
    return table(("video", "score"), rows, (False, True))


def search_view(videos: list[tuple[str, int, float]], as_json: bool) -> str:
    if as_json:
        return json.dumps(
            [{"video": video, "words": words, "score": score} for video, words, score in videos]
        )
    if not videos:
        return NO_MATCHES
    rows = [(video, str(words), f"{score:.4f}") for video, words, score in videos]
    return table(("video", "words", "score"), rows, (False, True, True))


def suggestions_view(suggestions: list[tuple[str, int, int]], as_json: bool) -> str:
    if as_json:
        return json.dumps(
            [
                {"term": term, "distance": distance, "count": count}
                for term, distance, count in suggestions
            ],
            ensure_ascii=False,
        )
    if not suggestions:
        return NO_MATCHES
    rows = [(term, str(distance), str(count)) for term, distance, count in suggestions]
    return table(("term", "distance", "count"), rows, (False, True, True))
