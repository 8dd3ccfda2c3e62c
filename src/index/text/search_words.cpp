#include "index/text/search_words.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "index/encoding/utf8.hpp"
#include "index/text/word_characters.hpp"

namespace kelnor {

bool is_word_character(char32_t code_point) noexcept {
    if (code_point < 0x80) {
        return (code_point >= '0' && code_point <= '9') ||
               (code_point >= 'A' && code_point <= 'Z') || (code_point >= 'a' && code_point <= 'z');
    }
    // The first range that ends at or after the code point holds it, if any does.
    const auto range =
        std::lower_bound(WORD_CHARACTER_RANGES.begin(), WORD_CHARACTER_RANGES.end(), code_point,
                         [](const CodePointRange& r, char32_t c) { return r.last < c; });
    return range != WORD_CHARACTER_RANGES.end() && range->first <= code_point;
}

SearchWords search_words(std::string_view text_utf8, std::size_t most) {
    SearchWords found;
    const std::span<const std::uint8_t> bytes = utf8_bytes(text_utf8);
    std::size_t at = 0;
    std::size_t word_start = 0;
    bool in_word = false;
    const auto end_word = [&](std::size_t end) {
        if (found.count < most)
            found.words.push_back(text_utf8.substr(word_start, end - word_start));
        ++found.count;
    };
    while (at < bytes.size()) {
        const Utf8Char decoded = decode_utf8_or_replacement(bytes.subspan(at));
        const bool word_character = is_word_character(decoded.code_point);
        if (word_character && !in_word) word_start = at;
        if (!word_character && in_word) end_word(at);
        in_word = word_character;
        at += decoded.length;
    }
    if (in_word) end_word(at);
    found.last_open = in_word;
    return found;
}

void split_words(std::span<const char32_t> text, std::vector<WordSpan>& words) {
    words.clear();
    std::size_t k = 0;
    while (k < text.size()) {
        while (k < text.size() && !is_word_character(text[k])) ++k;
        const std::size_t begin = k;
        while (k < text.size() && is_word_character(text[k])) ++k;
        if (k > begin) words.push_back({begin, k});
    }
}

}  // namespace kelnor
