// UTF-8 to characters and back, for query terms, matched texts and the words
// that a build derives from its terms.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "index/encoding/utf8.hpp"

namespace kelnor {

// The characters of `text`, or its first `most` characters when it has more.
// Queries arrive as valid UTF-8; should a byte not start or continue a valid
// sequence, it stands for one U+FFFD so that a bad caller gets a well-defined
// query instead of a read past the text.
std::vector<char32_t> decode_utf8(std::string_view text,
                                  std::size_t most = std::numeric_limits<std::size_t>::max());

// The character that a label is spelled as in a text: itself when it is a
// Unicode scalar value, and U+FFFD for a surrogate or a value above U+10FFFF,
// so that texts stay valid UTF-8 whatever an index image holds.
inline char32_t spelled_as(char32_t character) noexcept {
    return is_scalar_value(character) ? character : REPLACEMENT_CHARACTER;
}

// Appends the UTF-8 form of spelled_as(`character`) when it takes more than
// one byte.
void append_utf8_sequence(std::string& text, char32_t character);

// Appends the UTF-8 form of spelled_as(`character`). Most labels are ASCII,
// which takes one byte as it is.
inline void append_utf8(std::string& text, char32_t character) {
    if (character < 0x80) {
        text.push_back(static_cast<char>(character));
    } else {
        append_utf8_sequence(text, character);
    }
}

// The text of a walk's hit: the labels of `path` (down to the node's parent)
// then the node's own `label`.
std::string hit_text(std::span<const char32_t> path, char32_t label);

}  // namespace kelnor
