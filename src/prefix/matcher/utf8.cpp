#include "prefix/matcher/utf8.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kelnor {

namespace {

constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

bool is_continuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

struct Decoded {
    char32_t character;
    std::size_t length;
};

struct SequenceShape {
    std::size_t length;  // 0: the byte cannot start a sequence
    char32_t lead_bits;  // the payload bits of the lead byte
    char32_t smallest;   // below this the sequence would be overlong
};

SequenceShape shape_of(std::uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {2, lead & 0x1Fu, 0x80};
    if (lead >= 0xE0 && lead <= 0xEF) return {3, lead & 0x0Fu, 0x800};
    if (lead >= 0xF0 && lead <= 0xF4) return {4, lead & 0x07u, 0x10000};
    return {0, 0, 0};
}

// The sequence at text[at], which is not ASCII; one replacement character for
// its first byte when the sequence is not valid (overlong, surrogate, above
// U+10FFFF, truncated or a stray continuation byte).
Decoded decode_sequence(std::string_view text, std::size_t at) {
    const SequenceShape shape = shape_of(static_cast<std::uint8_t>(text[at]));
    const std::size_t length = shape.length;
    if (length == 0) return {REPLACEMENT_CHARACTER, 1};
    char32_t character = shape.lead_bits;
    if (text.size() - at < length) return {REPLACEMENT_CHARACTER, 1};
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<std::uint8_t>(text[at + k]);
        if (!is_continuation(byte)) return {REPLACEMENT_CHARACTER, 1};
        character = (character << 6) | (byte & 0x3F);
    }
    const bool surrogate = character >= 0xD800 && character <= 0xDFFF;
    if (character < shape.smallest || surrogate || character > 0x10FFFF) {
        return {REPLACEMENT_CHARACTER, 1};
    }
    return {character, length};
}

}  // namespace

std::vector<char32_t> decode_utf8(std::string_view text, std::size_t most) {
    std::vector<char32_t> characters;
    characters.reserve(std::min(text.size(), most));
    std::size_t at = 0;
    while (at < text.size() && characters.size() < most) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        if (byte < 0x80) {
            characters.push_back(byte);
            ++at;
            continue;
        }
        const Decoded decoded = decode_sequence(text, at);
        characters.push_back(decoded.character);
        at += decoded.length;
    }
    return characters;
}

void append_utf8(std::string& text, char32_t character) {
    if ((character >= 0xD800 && character <= 0xDFFF) || character > 0x10FFFF) {
        character = REPLACEMENT_CHARACTER;
    }
    if (character < 0x80) {
        text.push_back(static_cast<char>(character));
    } else if (character < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (character >> 6)));
        text.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else if (character < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (character >> 12)));
        text.push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | (character >> 18)));
        text.push_back(static_cast<char>(0x80 | ((character >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((character >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (character & 0x3F)));
    }
}

}  // namespace kelnor
