"""Records read from a tab-separated file: term, video id, count on each line.

A video id of decimal digits is an integer id, anything else must be a UUID;
blank lines are skipped. A bad line stops the read with its line number.
"""

from __future__ import annotations

from kelnor.builder import IndexBuilder
from kelnor.command_error import CommandError
from kelnor.progress import Progress
from kelnor.text_lines import numbered_lines
from kelnor.video_table import VideoId


def _video_id(text: str) -> VideoId:
    return int(text) if text.isascii() and text.isdigit() else text


def _count(text: str) -> int:
    if not (text.isascii() and text.isdigit()):
        raise ValueError(f"count {text!r} is not a whole number")
    return int(text)


def add_records(builder: IndexBuilder, path: str, progress: Progress | None = None) -> None:
    for number, line in numbered_lines(path, progress):
        if not line.strip():
            continue
        fields = line.split("\t")
        if len(fields) != 3:
            raise CommandError(
                f"{path}:{number}: expected 3 tab-separated fields "
                f"(term, video id, count), found {len(fields)}"
            )
        term, video_text, count_text = fields
        try:
            builder.add(term, _video_id(video_text.strip()), _count(count_text.strip()))
        except (TypeError, ValueError) as error:
            raise CommandError(f"{path}:{number}: {error}") from None
