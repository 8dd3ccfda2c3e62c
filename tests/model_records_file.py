"""The record path's reading of a TSV or CSV records file, line by line in
Python: the model that the extension's parser must follow. It is the command
line's reader from before the native path, over bytes in memory, with CSV
quoting added."""

from __future__ import annotations

import codecs

import kelnor

HEADER = ["term", "video", "count"]
U32_MAX = 2**32 - 1


def _video_id(text: str):
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


def _csv_fields(line: str) -> list[str] | None:
    fields, at = [], 0
    while True:
        field = ""
        if line[at:at + 1] == '"':
            at += 1
            while True:
                if at >= len(line):
                    return None
                if line[at] == '"':
                    if line[at + 1:at + 2] == '"':
                        field, at = field + '"', at + 2
                        continue
                    at += 1
                    break
                field, at = field + line[at], at + 1
        end = line.find(",", at)
        end = len(line) if end < 0 else end
        fields.append(field + line[at:end])
        if end == len(line):
            return fields
        at = end + 1


def model_build(data: bytes, separator: str, video_top_n: int) -> bytes | str:
    """The image of the records in `data`, or the message of the first bad line."""
    builder = kelnor.IndexBuilder()
    name = "tab" if separator == "\t" else "comma"
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    for number, raw in enumerate(lines, 1):
        start = len(codecs.BOM_UTF8) if number == 1 and raw.startswith(codecs.BOM_UTF8) else 0
        try:
            line = (raw[start:] + (b"\n" if number < len(lines) or data.endswith(b"\n") else b"")).decode("utf-8")
        except UnicodeDecodeError as error:
            return f"{number}: not UTF-8 text ({error.reason})"
        line = line.rstrip("\r\n")
        if not line.strip():
            continue
        fields = line.split("\t") if separator == "\t" else _csv_fields(line)
        if fields is None:
            return f"{number}: a quoted field does not end on its line"
        if number == 1 and fields == HEADER:
            continue
        if len(fields) != 3:
            return (
                f"{number}: expected 3 {name}-separated fields "
                f"(term, video id, count), found {len(fields)}"
            )
        term, video_text, count_text = fields
        try:
            builder.add(term, _video_id(video_text.strip()), _count(count_text.strip()))
        except (TypeError, ValueError) as error:
            return f"{number}: {error}"
    return builder.build(video_top_n).to_bytes()
