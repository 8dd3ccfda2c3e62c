// Words of a text: the runs of its letters and digits, as Python's
// str.isalnum() tells them (Unicode categories L*, Nd, Nl, No), so that the
// host and the index split a phrase alike.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace kelnor {

// Whether `character` is a letter or a digit (str.isalnum()).
bool is_word_char(char32_t character) noexcept;

// One word of a text: characters [begin, end).
struct WordSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The words of `text` in order, in `words`, which it replaces.
void split_words(std::span<const char32_t> text, std::vector<WordSpan>& words);

}  // namespace kelnor
