"""The index image: to_bytes and from_bytes against the Python model of the image."""

import random
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model_image
from _kelnor import PrefixSearch
from index_strategies import edited
from model_image import ModelDecodeError
from model_trie import INT32, UUID, ModelTrie

# A two-node index: root (no label) -> node 1 labelled U+00E9, both nodes with
# the payload (300, [0], [300]), one UUID 00..0F, node 1 terminal.
WORKED_EXAMPLE = bytes.fromhex(
    "020001"  # node_shifts [0, 1]
    "0200c3a9"  # child_labels [U+0000, U+00E9]
    "0101"  # child_transitions [1]
    "02" "01fb2c01010001fb2c01" "01fb2c01010001fb2c01"  # payloads
    "01" "000102030405060708090a0b0c0d0e0f"  # video_uuids
    "00"  # video_int_ids
    "00"  # id_mode Uuid
    "020001"  # is_terminal [false, true]
)
WORKED_EXAMPLE_MODEL = ModelTrie(
    node_shifts=[0, 1],
    child_labels=[0, 0xE9],
    child_transitions=[1],
    payloads=[(300, [0], [300]), (300, [0], [300])],
    video_uuids=[bytes(range(16))],
    video_int_ids=[],
    id_mode=UUID,
    is_terminal=[False, True],
)

FIELDS = [
    "node_shifts",
    "child_labels",
    "child_transitions",
    "payloads",
    "video_uuids",
    "video_int_ids",
    "id_mode",
    "is_terminal",
]

OPTION_TYPE = "core::option::Option<kelnor::payload::Payload>"
U32_MAX = 2**32 - 1


def at_field(field: str, data: bytes) -> bytes:
    """An image whose fields before `field` are empty, followed by `data`."""
    return bytes(FIELDS.index(field)) + data


def varint_u64(marker: int, value: int) -> bytes:
    return bytes([marker]) + value.to_bytes(8, "little")


def roundtrip(image: bytes) -> bytes:
    return PrefixSearch.from_bytes(image).to_bytes()


def decode_error_of(image: bytes) -> str:
    with pytest.raises(ValueError) as info:
        PrefixSearch.from_bytes(image)
    assert type(info.value) is ValueError
    (message,) = info.value.args
    return message


def model_error_of(image: bytes) -> str:
    with pytest.raises(ModelDecodeError) as info:
        model_image.decode(image)
    return info.value.text


def assert_matches_model(image: bytes) -> None:
    """The extension decodes `image` exactly as the model does."""
    try:
        expected = model_image.encode(model_image.decode(image))
    except ModelDecodeError as error:
        assert decode_error_of(image) == f"decode error: {error.text}"
    else:
        assert roundtrip(image) == expected


# ---------------------------------------------------------------- valid images


def test_model_encodes_worked_example():
    assert model_image.encode(WORKED_EXAMPLE_MODEL) == WORKED_EXAMPLE
    assert model_image.decode(WORKED_EXAMPLE) == WORKED_EXAMPLE_MODEL


def test_worked_example_roundtrips_byte_for_byte():
    assert len(WORKED_EXAMPLE) == 52
    image = roundtrip(WORKED_EXAMPLE)
    assert type(image) is bytes
    assert image == WORKED_EXAMPLE


@pytest.mark.parametrize(
    "image",
    [bytes(8), bytes.fromhex("0000000000000100")],
    ids=["uuid", "int32"],
)
def test_empty_index_image(image):
    assert roundtrip(image) == image


@pytest.mark.parametrize(
    "suffix",
    [b"\x00", b"\xff", b"\xfe" * 9, WORKED_EXAMPLE],
    ids=["zero", "ff", "markers", "image"],
)
def test_trailing_bytes_are_ignored(suffix):
    assert roundtrip(WORKED_EXAMPLE + suffix) == WORKED_EXAMPLE
    assert roundtrip(bytes(8) + suffix) == bytes(8)


@pytest.mark.parametrize(
    "value, encoded",
    [
        (0, "00"),
        (250, "fa"),
        (251, "fbfb00"),
        (65535, "fbffff"),
        (65536, "fc00000100"),
        (U32_MAX, "fcffffffff"),
    ],
)
@pytest.mark.parametrize("field", ["node_shifts", "child_transitions", "video_int_ids"])
def test_integer_forms_in_fields(field, value, encoded):
    image = at_field(field, b"\x01" + bytes.fromhex(encoded)) + bytes(
        len(FIELDS) - 1 - FIELDS.index(field)
    )
    assert roundtrip(image) == image
    assert getattr(model_image.decode(image), field) == [value]


@pytest.mark.parametrize(
    "code_point, encoded",
    [
        (0x00, "00"),
        (0x7F, "7f"),
        (0x80, "c280"),
        (0x7FF, "dfbf"),
        (0x800, "e0a080"),
        (0xD7FF, "ed9fbf"),
        (0xE000, "ee8080"),
        (0xFFFF, "efbfbf"),
        (0x10000, "f0908080"),
        (0x10FFFF, "f48fbfbf"),
    ],
)
def test_label_forms(code_point, encoded):
    image = at_field("child_labels", b"\x01" + bytes.fromhex(encoded)) + bytes(6)
    assert roundtrip(image) == image
    assert model_image.decode(image).child_labels == [code_point]


@pytest.mark.parametrize(
    "long_form, short_form",
    [
        ("fb0100" "00", "01" "00"),  # a count
        ("fd0100000000000000" "00", "01" "00"),  # a count in the 64-bit form
        ("01" "fb0500", "01" "05"),  # an entry
        ("01" "fc05000000", "01" "05"),  # an entry
        ("01" "fc00000100", "01" "fc00000100"),  # already shortest
        ("01" "fc2c010000", "01" "fb2c01"),
    ],
)
@pytest.mark.parametrize("field", ["node_shifts", "child_transitions", "video_int_ids"])
def test_longer_integer_forms_are_accepted_and_reencoded_short(field, long_form, short_form):
    tail = bytes(len(FIELDS) - 1 - FIELDS.index(field))
    assert (
        roundtrip(at_field(field, bytes.fromhex(long_form)) + tail)
        == at_field(field, bytes.fromhex(short_form)) + tail
    )


def test_longer_forms_in_payload_and_id_mode():
    image = at_field(
        "payloads", bytes.fromhex("fb0100" "01" "fc2c010000" "fb0100fa" "fd0200000000000000" "0102")
    ) + bytes.fromhex("00" "00" "fb0100" "00")
    assert roundtrip(image) == at_field(
        "payloads", bytes.fromhex("01" "01" "fb2c01" "01fa" "020102")
    ) + bytes.fromhex("00" "00" "01" "00")


@pytest.mark.parametrize(
    "trie",
    [
        pytest.param(
            ModelTrie(payloads=[None, (0, [], []), None]), id="absent-payloads-stay-absent"
        ),
        pytest.param(
            ModelTrie(payloads=[(7, [0, 1, 2], [5]), (1, [], [3, 4])]), id="unequal-lists"
        ),
        pytest.param(
            ModelTrie(node_shifts=[5, 0, 9], child_transitions=[7, 7, U32_MAX], is_terminal=[True]),
            id="broken-cross-references",
        ),
        pytest.param(
            ModelTrie(video_uuids=[bytes(16)], video_int_ids=[1, 2], id_mode=INT32),
            id="both-tables",
        ),
    ],
)
def test_invariants_are_not_checked(trie):
    image = model_image.encode(trie)
    assert roundtrip(image) == image


def test_large_random_index_roundtrips():
    rng = random.Random(20240601)
    nodes = 5000

    def number():
        return rng.choice([rng.randrange(251), rng.randrange(65536), rng.randrange(2**32)])

    trie = ModelTrie(
        node_shifts=[number() for _ in range(nodes)],
        child_labels=[
            rng.choice(
                [0, rng.randrange(0x80), rng.randrange(0xD800), rng.randrange(0x10000, 0x110000)]
            )
            for _ in range(nodes)
        ],
        child_transitions=[number() for _ in range(nodes - 1)],
        payloads=[
            (
                None
                if rng.random() < 0.1
                else (
                    number(),
                    [number() for _ in range(rng.randrange(12))],
                    [number() for _ in range(rng.randrange(12))],
                )
            )
            for _ in range(nodes)
        ],
        video_uuids=[rng.randbytes(16) for _ in range(300)],
        video_int_ids=[number() for _ in range(300)],
        id_mode=INT32,
        is_terminal=[rng.random() < 0.5 for _ in range(nodes)],
    )
    image = model_image.encode(trie)
    assert roundtrip(image) == image


# ---------------------------------------------------------------- decode errors


def unexpected_end(additional):
    return f"UnexpectedEnd {{ additional: {additional} }}"


def invalid_integer_type(expected, found):
    return f"InvalidIntegerType {{ expected: {expected}, found: {found} }}"


def unexpected_variant(type_name, found):
    return (
        f'UnexpectedVariant {{ type_name: "{type_name}", '
        f"allowed: Range {{ min: 0, max: 1 }}, found: {found} }}"
    )


def with_byte(image, position, value):
    return image[:position] + bytes([value]) + image[position + 1 :]


ERROR_CASES = [
    # the input ends inside a field
    ("empty", b"", unexpected_end(1)),
    ("first-20-bytes-of-example", WORKED_EXAMPLE[:20], unexpected_end(1)),
    ("count-u16-missing-1", b"\xfb\x01", unexpected_end(1)),
    ("count-u64-missing-5", b"\xfd\x01\x02\x03", unexpected_end(5)),
    ("entry-u32-missing-2", b"\x01\xfc\x00\x00", unexpected_end(2)),
    ("entry-u16-missing-2", b"\x01\xfb", unexpected_end(2)),
    ("uuid-missing-16", at_field("video_uuids", b"\x01"), unexpected_end(16)),
    ("uuid-missing-1", at_field("video_uuids", b"\x01" + bytes(15)), unexpected_end(1)),
    ("id-mode-missing", bytes(6), unexpected_end(1)),
    ("terminal-missing", bytes(7) + b"\x02\x01", unexpected_end(1)),
    ("payload-total-missing", at_field("payloads", b"\x01\x01"), unexpected_end(1)),
    ("payload-counts-missing", at_field("payloads", b"\x01\x01\x05\x01\x00"), unexpected_end(1)),
    ("lone-e2-at-end", at_field("child_labels", b"\x01\xe2"), unexpected_end(2)),
    ("e2-82-at-end", at_field("child_labels", b"\x01\xe2\x82"), unexpected_end(1)),
    ("f0-at-end", at_field("child_labels", b"\x01\xf0"), unexpected_end(3)),
    ("invalid-but-short-label", at_field("child_labels", b"\x01\xe2\x28"), unexpected_end(1)),
    ("huge-count", b"\xfc\xff\xff\xff\xff", unexpected_end(1)),
    ("huge-uuid-count", at_field("video_uuids", b"\xfc\xff\xff\xff\xff"), unexpected_end(16)),
    # integer markers
    ("u32-marker-253", b"\x01\xfd" + bytes(8), invalid_integer_type("U32", "U64")),
    ("u32-marker-253-at-end", b"\x01\xfd", invalid_integer_type("U32", "U64")),
    ("u32-marker-254", b"\x01\xfe" + bytes(8), invalid_integer_type("U32", "U128")),
    ("u32-marker-254-at-end", b"\x01\xfe", invalid_integer_type("U32", "U128")),
    ("u32-marker-255", b"\x01\xff", invalid_integer_type("U32", "Reserved")),
    ("u32-marker-255-padded", b"\x01\xff" + bytes(20), invalid_integer_type("U32", "Reserved")),
    ("count-marker-254", b"\xfe", invalid_integer_type("U64", "U128")),
    ("count-marker-254-padded", b"\xfe" + bytes(16), invalid_integer_type("U64", "U128")),
    ("count-marker-255", b"\xff" + bytes(16), invalid_integer_type("U64", "Reserved")),
    (
        "payload-total-marker-253",
        at_field("payloads", b"\x01\x01\xfd"),
        invalid_integer_type("U32", "U64"),
    ),
    (
        "payload-list-count-marker-255",
        at_field("payloads", b"\x01\x01\x00\xff"),
        invalid_integer_type("U64", "Reserved"),
    ),
    ("id-mode-marker-253", bytes(6) + b"\xfd" + bytes(9), invalid_integer_type("U32", "U64")),
    # counts
    ("count-2-pow-32", varint_u64(0xFD, 2**32), "OutsideUsizeRange(4294967296)"),
    ("count-max-u64", varint_u64(0xFD, 2**64 - 1), "OutsideUsizeRange(18446744073709551615)"),
    (
        "terminal-count-2-pow-32",
        bytes(7) + varint_u64(0xFD, 2**32),
        "OutsideUsizeRange(4294967296)",
    ),
    ("count-2-pow-32-minus-1", varint_u64(0xFD, U32_MAX), unexpected_end(1)),
    # characters
    ("c3-28", at_field("child_labels", b"\x01\xc3\x28"), "InvalidCharEncoding([195, 40, 0, 0])"),
    ("lead-80", at_field("child_labels", b"\x01\x80"), "InvalidCharEncoding([128, 0, 0, 0])"),
    ("lead-bf", at_field("child_labels", b"\x01\xbf\x80"), "InvalidCharEncoding([191, 0, 0, 0])"),
    ("lead-c0", at_field("child_labels", b"\x01\xc0\x80"), "InvalidCharEncoding([192, 0, 0, 0])"),
    ("lead-c1", at_field("child_labels", b"\x01\xc1"), "InvalidCharEncoding([193, 0, 0, 0])"),
    (
        "lead-f5",
        at_field("child_labels", b"\x01\xf5\x80\x80\x80"),
        "InvalidCharEncoding([245, 0, 0, 0])",
    ),
    ("lead-ff", at_field("child_labels", b"\x01\xff"), "InvalidCharEncoding([255, 0, 0, 0])"),
    (
        "overlong-3",
        at_field("child_labels", b"\x01\xe0\x80\x80"),
        "InvalidCharEncoding([224, 128, 128, 0])",
    ),
    (
        "overlong-4",
        at_field("child_labels", b"\x01\xf0\x8f\xbf\xbf"),
        "InvalidCharEncoding([240, 143, 191, 191])",
    ),
    (
        "surrogate",
        at_field("child_labels", b"\x01\xed\xa0\x80"),
        "InvalidCharEncoding([237, 160, 128, 0])",
    ),
    (
        "above-max",
        at_field("child_labels", b"\x01\xf4\x90\x80\x80"),
        "InvalidCharEncoding([244, 144, 128, 128])",
    ),
    (
        "bad-third-byte",
        at_field("child_labels", b"\x01\xe2\x82\x28"),
        "InvalidCharEncoding([226, 130, 40, 0])",
    ),
    (
        "bad-fourth-byte",
        at_field("child_labels", b"\x01\xf0\x9f\x98\xc0"),
        "InvalidCharEncoding([240, 159, 152, 192])",
    ),
    ("second-label-cut", at_field("child_labels", b"\x02a\xc3"), unexpected_end(1)),
    # tags and enumerations
    ("example-payload-tag-2", with_byte(WORKED_EXAMPLE, 10, 2), unexpected_variant(OPTION_TYPE, 2)),
    ("payload-tag-255", at_field("payloads", b"\x01\xff"), unexpected_variant(OPTION_TYPE, 255)),
    (
        "payload-tag-fb",
        at_field("payloads", b"\x01\xfb\x01\x00"),
        unexpected_variant(OPTION_TYPE, 251),
    ),
    ("example-id-mode-2", with_byte(WORKED_EXAMPLE, 48, 2), unexpected_variant("IdMode", 2)),
    ("id-mode-long-2", bytes(6) + b"\xfb\x02\x00", unexpected_variant("IdMode", 2)),
    ("id-mode-max", bytes(6) + b"\xfc\xff\xff\xff\xff", unexpected_variant("IdMode", U32_MAX)),
    # booleans
    ("example-terminal-2", with_byte(WORKED_EXAMPLE, 50, 2), "InvalidBooleanValue(2)"),
    ("terminal-ff", bytes(7) + b"\x01\xff", "InvalidBooleanValue(255)"),
]


@pytest.mark.parametrize(
    "image, rendering", [case[1:] for case in ERROR_CASES], ids=[case[0] for case in ERROR_CASES]
)
def test_decode_errors(image, rendering):
    assert decode_error_of(image) == f"decode error: {rendering}"
    assert model_error_of(image) == rendering


@pytest.mark.parametrize("length", range(len(WORKED_EXAMPLE)))
def test_every_truncation_of_worked_example(length):
    assert_matches_model(WORKED_EXAMPLE[:length])
    assert decode_error_of(WORKED_EXAMPLE[:length]).startswith("decode error: UnexpectedEnd")


def test_failed_decode_leaves_nothing_behind():
    with pytest.raises(ValueError):
        PrefixSearch.from_bytes(WORKED_EXAMPLE[:-1])
    assert roundtrip(WORKED_EXAMPLE) == WORKED_EXAMPLE


HUGE_COUNT = b"\xfc\xff\xff\xff\xff"
HUGE_COUNT_IMAGES = [
    *(at_field(field, HUGE_COUNT) for field in FIELDS if field != "id_mode"),
    *(at_field(field, HUGE_COUNT + bytes(1000)) for field in FIELDS if field != "id_mode"),
    at_field("payloads", b"\x01\x01\x00" + HUGE_COUNT),
    at_field("payloads", b"\x01\x01\x00\x00" + HUGE_COUNT + bytes(100)),
    varint_u64(0xFD, U32_MAX),
]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs an address-space limit")
def test_huge_counts_reserve_no_memory():
    # With the address space capped a little above what the interpreter holds,
    # reserving for a count of 2**32 - 1 would fail with MemoryError, however
    # lazily the system commits pages.
    script = textwrap.dedent("""
        import resource, sys
        from _kelnor import PrefixSearch
        with open("/proc/self/status") as status:
            size_kb = next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))
        limit = size_kb * 1024 + 512 * 2**20
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        for image in [bytes.fromhex(h) for h in sys.argv[1:]]:
            try:
                PrefixSearch.from_bytes(image)
            except ValueError as error:
                print(error.args[0])
        """)
    completed = subprocess.run(
        [sys.executable, "-c", script, *(image.hex() for image in HUGE_COUNT_IMAGES)],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert completed.returncode == 0, completed.stderr
    expected = [f"decode error: {model_error_of(image)}" for image in HUGE_COUNT_IMAGES]
    assert completed.stdout.splitlines() == expected
    assert all("UnexpectedEnd" in line for line in expected)


# ---------------------------------------------------------------- properties

_BOUNDARIES = [0, 1, 250, 251, 252, 253, 254, 255, 256, 65535, 65536, U32_MAX - 1, U32_MAX]
u32s = st.one_of(st.sampled_from(_BOUNDARIES), st.integers(0, U32_MAX))
labels = st.one_of(
    st.just(0),
    st.sampled_from([0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF]),
    st.characters(codec="utf-8").map(ord),
)
payloads = st.one_of(
    st.none(),
    st.tuples(u32s, st.lists(u32s, max_size=6), st.lists(u32s, max_size=6)),
)
model_tries = st.builds(
    ModelTrie,
    node_shifts=st.lists(u32s, max_size=8),
    child_labels=st.lists(labels, max_size=8),
    child_transitions=st.lists(u32s, max_size=8),
    payloads=st.lists(payloads, max_size=6),
    video_uuids=st.lists(st.binary(min_size=16, max_size=16), max_size=3),
    video_int_ids=st.lists(u32s, max_size=4),
    id_mode=st.sampled_from([UUID, INT32]),
    is_terminal=st.lists(st.booleans(), max_size=8),
)

# Bytes that matter to the decoder: small counts, markers, UTF-8 leads and tags.
_interesting_bytes = st.one_of(
    st.sampled_from(
        [
            0,
            1,
            2,
            3,
            0x28,
            0x7F,
            0x80,
            0xA0,
            0xBF,
            0xC2,
            0xC3,
            0xE0,
            0xED,
            0xF0,
            0xF4,
            0xFA,
            0xFB,
            0xFC,
            0xFD,
            0xFE,
            0xFF,
        ]
    ),
    st.integers(0, 255),
)
random_images = st.lists(_interesting_bytes, max_size=80).map(bytes)


@settings(max_examples=300, deadline=None)
@given(model_tries)
def test_model_images_roundtrip(trie):
    image = model_image.encode(trie)
    assert model_image.decode(image) == trie
    assert roundtrip(image) == image


@settings(max_examples=300, deadline=None)
@given(random_images)
def test_random_bytes_decode_as_the_model_does(image):
    assert_matches_model(image)


@st.composite
def edited_images(draw):
    image = model_image.encode(draw(model_tries))
    kinds = ["set", "insert", "delete", "truncate"]
    return edited(draw, image, draw(st.integers(1, 4)), kinds, _interesting_bytes)


@settings(max_examples=400, deadline=None)
@given(edited_images())
def test_edited_images_decode_as_the_model_does(image):
    assert_matches_model(image)
