// Writers of the value kinds of the compact encoding, over any byte sink
// (byte_sinks.hpp). Integers are little-endian and always in their shortest
// variable-length form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "encoding/varint_format.hpp"

namespace kelnor {

template <class Sink>
inline void varint_encode_u32(Sink& sink, std::uint32_t value) {
    if (value <= kVarintSingleByteMax) {
        sink.put_byte(static_cast<std::uint8_t>(value));
    } else if (value <= 0xFFFF) {
        sink.put(std::array<std::uint8_t, 3>{kVarintMarkerU16, static_cast<std::uint8_t>(value),
                                             static_cast<std::uint8_t>(value >> 8)});
    } else {
        sink.put(std::array<std::uint8_t, 5>{kVarintMarkerU32, static_cast<std::uint8_t>(value),
                                             static_cast<std::uint8_t>(value >> 8),
                                             static_cast<std::uint8_t>(value >> 16),
                                             static_cast<std::uint8_t>(value >> 24)});
    }
}

template <class Sink>
inline void varint_encode_u64(Sink& sink, std::uint64_t value) {
    if (value <= 0xFFFFFFFF) {
        varint_encode_u32(sink, static_cast<std::uint32_t>(value));
        return;
    }
    std::array<std::uint8_t, 9> bytes{kVarintMarkerU64};
    for (std::size_t i = 0; i < 8; ++i) bytes[1 + i] = static_cast<std::uint8_t>(value >> (8 * i));
    sink.put(bytes);
}

// A sequence's element count; the elements follow by their own rule.
template <class Sink>
inline void write_count(Sink& sink, std::size_t count) {
    varint_encode_u64(sink, count);
}

template <class Sink>
inline void write_bool(Sink& sink, bool value) {
    sink.put_byte(value ? 1 : 0);
}

// A Unicode scalar value as its UTF-8 bytes.
template <class Sink>
inline void write_char(Sink& sink, char32_t c) {
    const auto byte = [](char32_t bits) { return static_cast<std::uint8_t>(bits); };
    if (c < 0x80) {
        sink.put_byte(byte(c));
    } else if (c < 0x800) {
        sink.put(std::array<std::uint8_t, 2>{byte(0xC0 | (c >> 6)), byte(0x80 | (c & 0x3F))});
    } else if (c < 0x10000) {
        sink.put(std::array<std::uint8_t, 3>{byte(0xE0 | (c >> 12)), byte(0x80 | ((c >> 6) & 0x3F)),
                                             byte(0x80 | (c & 0x3F))});
    } else {
        sink.put(
            std::array<std::uint8_t, 4>{byte(0xF0 | (c >> 18)), byte(0x80 | ((c >> 12) & 0x3F)),
                                        byte(0x80 | ((c >> 6) & 0x3F)), byte(0x80 | (c & 0x3F))});
    }
}

}  // namespace kelnor
