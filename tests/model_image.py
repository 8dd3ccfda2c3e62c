"""A plain-Python encoder and decoder of the index image, for ModelTrie.

Written for clarity, not speed: one function per value kind, integers built
byte by byte. The decoder reports failures as ModelDecodeError whose text is
the extension's rendering of the same error (without the "decode error: "
prefix that from_bytes adds).
"""

from __future__ import annotations

from typing import Callable, List, Optional, TypeVar

from model_trie import ModelTrie, Payload

T = TypeVar("T")

OPTIONAL_PAYLOAD_TYPE = "core::option::Option<kelnor::payload::Payload>"
ID_MODE_TYPE = "IdMode"
U32_MAX = 2**32 - 1


class ModelDecodeError(Exception):
    def __init__(self, text: str) -> None:
        super().__init__(text)
        self.text = text


def unexpected_end(additional: int) -> ModelDecodeError:
    return ModelDecodeError(f"UnexpectedEnd {{ additional: {additional} }}")


def unexpected_variant(type_name: str, found: int) -> ModelDecodeError:
    return ModelDecodeError(
        f'UnexpectedVariant {{ type_name: "{type_name}", '
        f"allowed: Range {{ min: 0, max: 1 }}, found: {found} }}"
    )


# ---------------------------------------------------------------- encoding


def varint(value: int) -> bytes:
    if value <= 250:
        return bytes([value])
    if value <= 0xFFFF:
        return bytes([251]) + value.to_bytes(2, "little")
    if value <= 0xFFFFFFFF:
        return bytes([252]) + value.to_bytes(4, "little")
    return bytes([253]) + value.to_bytes(8, "little")


def sequence(items: list, encode_item: Callable[[T], bytes]) -> bytes:
    return varint(len(items)) + b"".join(encode_item(item) for item in items)


def encode_payload(payload: Optional[Payload]) -> bytes:
    if payload is None:
        return b"\x00"
    total_count, video_ids, video_counts = payload
    return (
        b"\x01" + varint(total_count) + sequence(video_ids, varint) + sequence(video_counts, varint)
    )


def encode(trie: ModelTrie) -> bytes:
    """The image of `trie`, in the shortest integer forms."""
    return b"".join(
        [
            sequence(trie.node_shifts, varint),
            sequence(trie.child_labels, lambda c: chr(c).encode("utf-8")),
            sequence(trie.child_transitions, varint),
            sequence(trie.payloads, encode_payload),
            sequence(trie.video_uuids, bytes),
            sequence(trie.video_int_ids, varint),
            varint(trie.id_mode),
            sequence(trie.is_terminal, lambda flag: b"\x01" if flag else b"\x00"),
        ]
    )


# ---------------------------------------------------------------- decoding


class _Reader:
    def __init__(self, data: bytes) -> None:
        self.data = data
        self.pos = 0

    def take(self, count: int) -> bytes:
        available = len(self.data) - self.pos
        if available < count:
            raise unexpected_end(count - available)
        chunk = self.data[self.pos : self.pos + count]
        self.pos += count
        return chunk

    def byte(self) -> int:
        return self.take(1)[0]

    def varint(self, width: str) -> int:
        marker = self.byte()
        if marker <= 250:
            return marker
        sizes = {251: 2, 252: 4, 253: 8}
        if marker not in sizes or (marker == 253 and width == "U32"):
            found = {253: "U64", 254: "U128", 255: "Reserved"}[marker]
            raise ModelDecodeError(f"InvalidIntegerType {{ expected: {width}, found: {found} }}")
        return int.from_bytes(self.take(sizes[marker]), "little")

    def sequence(self, decode_item: Callable[[], T]) -> List[T]:
        count = self.varint("U64")
        if count > U32_MAX:
            raise ModelDecodeError(f"OutsideUsizeRange({count})")
        # Appended one by one: sizing the list from the untrusted count (as a
        # comprehension over range may) could ask for gigabytes.
        items = []
        for _ in range(count):
            items.append(decode_item())
        return items

    def u32(self) -> int:
        return self.varint("U32")

    def char(self) -> int:
        lead = self.byte()
        if lead < 0x80:
            return lead
        if 0xC2 <= lead <= 0xDF:
            length = 2
        elif 0xE0 <= lead <= 0xEF:
            length = 3
        elif 0xF0 <= lead <= 0xF4:
            length = 4
        else:
            raise ModelDecodeError(f"InvalidCharEncoding([{lead}, 0, 0, 0])")
        encoded = bytes([lead]) + self.take(length - 1)
        try:
            return ord(encoded.decode("utf-8"))
        except UnicodeDecodeError:
            padded = list(encoded) + [0] * (4 - length)
            raise ModelDecodeError(
                f"InvalidCharEncoding([{', '.join(map(str, padded))}])"
            ) from None

    def payload(self) -> Optional[Payload]:
        tag = self.byte()
        if tag == 0:
            return None
        if tag != 1:
            raise unexpected_variant(OPTIONAL_PAYLOAD_TYPE, tag)
        total_count = self.u32()
        video_ids = self.sequence(self.u32)
        video_counts = self.sequence(self.u32)
        return (total_count, video_ids, video_counts)

    def id_mode(self) -> int:
        number = self.u32()
        if number > 1:
            raise unexpected_variant(ID_MODE_TYPE, number)
        return number

    def boolean(self) -> bool:
        value = self.byte()
        if value > 1:
            raise ModelDecodeError(f"InvalidBooleanValue({value})")
        return value == 1


def decode(data: bytes) -> ModelTrie:
    """The index at the start of `data`; raises ModelDecodeError."""
    reader = _Reader(bytes(data))
    return ModelTrie(
        node_shifts=reader.sequence(reader.u32),
        child_labels=reader.sequence(reader.char),
        child_transitions=reader.sequence(reader.u32),
        payloads=reader.sequence(reader.payload),
        video_uuids=reader.sequence(lambda: reader.take(16)),
        video_int_ids=reader.sequence(reader.u32),
        id_mode=reader.id_mode(),
        is_terminal=reader.sequence(reader.boolean),
    )
