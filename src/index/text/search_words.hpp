// The words of a text: runs of Unicode letters and digits, as Python's
// str.isalnum() tells them (word_characters.hpp), the rest separating them,
// so that the host and the index split a text alike.
#pragma once

#include <cstddef>
#include <span>
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

// One word of a text of characters: characters [begin, end).
struct WordSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The words of `text` in order, in `words`, which it replaces.
void split_words(std::span<const char32_t> text, std::vector<WordSpan>& words);

}  // namespace kelnor
