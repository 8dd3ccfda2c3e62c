// Writers of the value kinds of the compact encoding, over any byte sink
// (byte_sinks.hpp). Integers are little-endian and always in their shortest
// variable-length form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/encoding/utf8.hpp"
#include "index/encoding/varint_format.hpp"

namespace kelnor {

template <class Sink>
inline void varint_encode_u64(Sink& sink, std::uint64_t value) {
    encode_varint(value, [&sink](const auto& bytes) { sink.put(bytes); });
}

template <class Sink>
inline void varint_encode_u32(Sink& sink, std::uint32_t value) {
    encode_varint(value, [&sink](const auto& bytes) { sink.put(bytes); });
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
    encode_utf8(c, [&sink](const auto& bytes) { sink.put(bytes); });
}

}  // namespace kelnor
