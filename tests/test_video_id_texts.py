"""One rule for video id texts on every build path: the record path, Arrow
string columns and a records file accept the same texts, with the same
message for the rest and the same image for the accepted.

A records file strips its fields and reads ASCII digits as an integer id, so
its id is the record path's of the stripped text (its model,
model_records_file, says so line by line); where stripping changes nothing
and the text is no integer, its outcome is the other two paths' too.
"""

from __future__ import annotations

import uuid

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import _kelnor
import kelnor
from model_records_file import model_build

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (it has no wheels for PyPy)")

LEADING = str(uuid.UUID(int=0x0123456789ABCDEF0123456789ABCDEF))

# Pieces of UUID texts: hex digits in groups (eight groups make 32 digits),
# the decorations uuid.UUID drops, what int() reads around digits (signs, a
# base prefix, underscores, white space), and what no path may take for a
# digit or a space: ASCII information separators, other controls, non-ASCII
# digits and spaces, letters past f, a NUL.
PIECES = (
    ["1a2B", "c3D4", "0000", "ffff", "9", "e"] * 4
    + ["-", "{", "}", "urn:", "uuid:", "URN:", "0x", "0X", "+", "_", " ", "\t", "\x0b", "\x0c"]
    + ["\x1c", "\x1d", "\x1f", "\x7f", "\x00", "\u00a0", "\u2003", "\u3000", "\u0666", "\uff11"]
    + ["\U0001d7ce", "g", "G", "é", "7"]
)
ID_TEXTS = st.one_of(
    st.lists(st.sampled_from(PIECES), max_size=14).map("".join),
    st.text(max_size=40),
)


def outcome(call) -> tuple[str, object]:
    """("ok", image) or ("refused", message)."""
    try:
        return ("ok", call().to_bytes())
    except (TypeError, ValueError) as error:
        return ("refused", str(error))


def records_outcome(rows) -> tuple[str, object]:
    def build():
        builder = kelnor.IndexBuilder()
        for row, record in enumerate(rows):
            try:
                builder.add(*record)
            except (TypeError, ValueError) as error:
                raise type(error)(f"row {row}: {error}") from None
        return builder.build()

    return outcome(build)


def file_outcome(rows) -> tuple[str, object]:
    """The records file of `rows` through the extension, its refusal's line
    number turned into the row number."""
    data = "".join(f"{term}\t{video}\t{count}\n" for term, video, count in rows).encode()
    expected = model_build(data, "\t", kelnor.DEFAULT_VIDEO_TOP_N)
    built = outcome(lambda: _kelnor._build_from_text_records(data, "\t", kelnor.DEFAULT_VIDEO_TOP_N))
    assert built == (("ok", expected) if isinstance(expected, bytes) else ("refused", expected))
    if built[0] == "ok":
        return built
    line, message = str(built[1]).split(": ", 1)
    return ("refused", f"row {int(line) - 1}: {message}")


def is_plain_in_a_file(text: str) -> bool:
    """Whether a records file reads `text` as the record path reads the str."""
    stripped = text.strip()
    number = stripped[1:] if stripped.startswith("-") else stripped
    return stripped == text and not (number.isascii() and number.isdigit())


@settings(max_examples=600, deadline=None)
@given(text=ID_TEXTS, lead=st.booleans())
@example(text="{\x1c" + "6" * 31 + "}", lead=False)
@example(text="\u0666" * 32, lead=False)
@example(text=" " + "6" * 31, lead=True)
def test_every_path_reads_an_id_text_alike(text, lead):
    rows = ([("lead", LEADING, 1)] if lead else []) + [("t", text, 2)]
    expected = records_outcome(rows)
    terms, videos, counts = (list(column) for column in zip(*rows))
    assert outcome(lambda: kelnor.build_columns(pa.array(terms), pa.array(videos), pa.array(counts))) == expected
    assert outcome(
        lambda: kelnor.build(pa.table({"term": terms, "video": pa.array(videos, pa.large_string()), "count": counts}))
    ) == expected
    if not any(end in text for end in "\t\n\r"):  # a field of one line
        read = file_outcome(rows)
        if is_plain_in_a_file(text):
            assert read == expected


@pytest.mark.parametrize(
    "text, accepted",
    [
        ("{\x1c" + "6" * 31 + "}", False),  # an information separator is no space for int()
        ("\x1f" + "6" * 31, False),
        ("\u0666" * 32, False),  # non-ASCII digits: ASCII only on every path
        ("\u00a0" + "6" * 31, False),
        (" " + "6" * 31, True),
        ("{" + "6" * 32 + "}", True),
    ],
)
def test_the_record_path_reads_ascii_uuid_texts_only(text, accepted):
    refused = records_outcome([("t", text, 1)])[0] == "refused"
    assert refused != accepted
