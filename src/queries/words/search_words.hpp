// The words of a search text: runs of Unicode letters and digits, the rest
// separating them.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace kelnor {

// Whether `code_point` is a letter or digit (word_characters.hpp).
bool is_word_character(char32_t code_point) noexcept;

struct SearchWords {
    // The first `most` words as views into the text, in order.
    std::vector<std::string_view> words;
    // Every word of the text, counted past `most` too.
    std::size_t count = 0;
    // Whether the text ends inside its last word rather than after a
    // separator: the word is still being typed.
    bool last_open = false;
};

// The words of `text_utf8`. A byte that does not start or continue a valid
// UTF-8 sequence separates words, as U+FFFD does. Linear in the text's
// length, and keeps at most `most` views whatever the text.
SearchWords search_words(std::string_view text_utf8, std::size_t most);

}  // namespace kelnor
