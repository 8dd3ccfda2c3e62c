// The one UTF-8 codec of the core: index images, query terms, matched texts
// and the labels the host passes all go through these two functions. The
// callers differ only in what they make of a sequence that is not well-formed
// (the image reader refuses it with the bytes it read, the query decoder takes
// U+FFFD for its first byte) and of a value that is not a scalar value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelnor {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Not a surrogate and not above U+10FFFF: the values UTF-8 text may hold.
constexpr bool is_scalar_value(char32_t code_point) noexcept {
    return code_point <= 0x10FFFF && !(code_point >= 0xD800 && code_point <= 0xDFFF);
}

// The bytes of a text, as the decoder reads them.
inline std::span<const std::uint8_t> utf8_bytes(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

enum class Utf8Status : std::uint8_t {
    Decoded,    // a well-formed sequence of `length` bytes
    BadLead,    // the first byte cannot start a sequence: a continuation
                // byte, an overlong lead (C0, C1) or a lead beyond U+10FFFF
    Truncated,  // the bytes end before the `length` the lead announces
    IllFormed,  // `length` bytes that are not one scalar value: a byte that
                // does not continue, an overlong form, a surrogate or a value
                // above U+10FFFF
};

struct Utf8Sequence {
    Utf8Status status;
    std::size_t length;   // 1 for BadLead, else the length the lead announces
    char32_t code_point;  // when Decoded; U+0000 decodes like any other
};

// Bytes in the sequence that `lead` starts; 0 for a byte that cannot start one.
constexpr std::size_t utf8_sequence_length(std::uint8_t lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF5) return 4;
    return 0;
}

// The sequence at the start of the non-empty `bytes`. The checks run in the
// order lead, length, form, so a sequence cut short is Truncated even when
// what is there is already ill-formed.
constexpr Utf8Sequence decode_utf8_sequence(std::span<const std::uint8_t> bytes) noexcept {
    const std::uint8_t lead = bytes[0];
    const std::size_t length = utf8_sequence_length(lead);
    if (length == 0) return {Utf8Status::BadLead, 1, 0};
    if (length == 1) return {Utf8Status::Decoded, 1, lead};
    if (bytes.size() < length) return {Utf8Status::Truncated, length, 0};
    // The second byte's range depends on the lead: that is how overlong
    // forms, surrogates and values above U+10FFFF are excluded.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (bytes[1] < low || bytes[1] > high) return {Utf8Status::IllFormed, length, 0};
    constexpr std::array<std::uint8_t, 5> lead_bits{0, 0, 0x1F, 0x0F, 0x07};
    char32_t code_point = lead & lead_bits[length];
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return {Utf8Status::IllFormed, length, 0};
        code_point = (code_point << 6) | (bytes[i] & 0x3F);
    }
    return {Utf8Status::Decoded, length, code_point};
}

struct Utf8Char {
    char32_t code_point;
    std::size_t length;
};

// The code point at the start of the non-empty `bytes`, or U+FFFD for their
// first byte alone when they do not start a well-formed sequence: the
// decoding of text that should be valid but must not be trusted to be.
constexpr Utf8Char decode_utf8_or_replacement(std::span<const std::uint8_t> bytes) noexcept {
    const Utf8Sequence sequence = decode_utf8_sequence(bytes);
    if (sequence.status != Utf8Status::Decoded) return {REPLACEMENT_CHARACTER, 1};
    return {sequence.code_point, sequence.length};
}

// Hands the UTF-8 form of `code_point` to `put` as one std::array of 1 to 4
// bytes, so that a sink writes each length as one fixed-size store. Callers
// that must produce valid text make the value a scalar value first: a
// surrogate is encoded like any value below U+10000, and values up to
// U+1FFFFF take the four-byte pattern.
template <class Put>
constexpr void encode_utf8(char32_t code_point, Put&& put) {
    const auto byte = [](char32_t bits) { return static_cast<std::uint8_t>(bits); };
    const char32_t c = code_point;
    if (c < 0x80) {
        put(std::array<std::uint8_t, 1>{byte(c)});
    } else if (c < 0x800) {
        put(std::array<std::uint8_t, 2>{byte(0xC0 | (c >> 6)), byte(0x80 | (c & 0x3F))});
    } else if (c < 0x10000) {
        put(std::array<std::uint8_t, 3>{byte(0xE0 | (c >> 12)), byte(0x80 | ((c >> 6) & 0x3F)),
                                        byte(0x80 | (c & 0x3F))});
    } else {
        put(std::array<std::uint8_t, 4>{byte(0xF0 | (c >> 18)), byte(0x80 | ((c >> 12) & 0x3F)),
                                        byte(0x80 | ((c >> 6) & 0x3F)), byte(0x80 | (c & 0x3F))});
    }
}

}  // namespace kelnor
