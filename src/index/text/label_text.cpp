#include "index/text/label_text.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "index/encoding/utf8.hpp"

namespace kelnor {

std::vector<char32_t> decode_utf8(std::string_view text, std::size_t most) {
    std::vector<char32_t> characters;
    characters.reserve(std::min(text.size(), most));
    const std::span<const std::uint8_t> bytes = utf8_bytes(text);
    std::size_t at = 0;
    while (at < bytes.size() && characters.size() < most) {
        const Utf8Char decoded = decode_utf8_or_replacement(bytes.subspan(at));
        characters.push_back(decoded.code_point);
        at += decoded.length;
    }
    return characters;
}

void append_utf8_sequence(std::string& text, char32_t character) {
    encode_utf8(spelled_as(character), [&text](const auto& bytes) {
        text.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
}

std::string hit_text(std::span<const char32_t> path, char32_t label) {
    std::string text;
    for (const char32_t character : path) append_utf8(text, character);
    append_utf8(text, label);
    return text;
}

}  // namespace kelnor
