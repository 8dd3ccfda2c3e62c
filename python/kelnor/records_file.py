"""Records read from a tab-separated file: term, video id, count on each line.

A video id of decimal digits is an integer id, anything else must be a UUID;
blank lines are skipped, and so is a first line naming the columns. A bad line
stops the read with its line number.
"""

from __future__ import annotations

from kelnor.builder import IndexBuilder
from kelnor.command_error import CommandError
from kelnor.progress import Progress
from kelnor.text_lines import numbered_lines, shown_name
from kelnor.video_table import U32_MAX, VideoId

# A first line of exactly these fields names the columns. It cannot be a
# record: "video" is neither a number nor a UUID.
HEADER = ["term", "video", "count"]


def _video_id(text: str) -> VideoId:
    if text.isascii() and text.isdigit():
        return int(text)
    if text.startswith("-") and text[1:].isascii() and text[1:].isdigit() and int(text) < 0:
        raise ValueError(
            f"video id {text} is negative: a video id is a whole number "
            f"from 0 to {U32_MAX} or a UUID"
        )
    return text


def _count(text: str) -> int:
    if not (text.isascii() and text.isdigit()):
        raise ValueError(f"count {text!r} is not a whole number")
    return int(text)


def add_records(builder: IndexBuilder, path: str, progress: Progress | None = None) -> None:
    """Adds the records of `path`, or of standard input when it is "-"."""
    name = shown_name(path)
    for number, line in numbered_lines(path, progress):
        if not line.strip():
            continue
        fields = line.split("\t")
        if number == 1 and fields == HEADER:
            continue
        if len(fields) != 3:
            raise CommandError(
                f"{name}:{number}: expected 3 tab-separated fields "
                f"(term, video id, count), found {len(fields)}"
            )
        term, video_text, count_text = fields
        try:
            builder.add(term, _video_id(video_text.strip()), _count(count_text.strip()))
        except (TypeError, ValueError) as error:
            raise CommandError(f"{name}:{number}: {error}") from None
