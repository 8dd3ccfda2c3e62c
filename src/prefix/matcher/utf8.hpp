// UTF-8 to characters and back, for query terms and matched texts.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace kelnor {

// The characters of `text`, or its first `most` characters when it has more.
// Queries arrive as valid UTF-8; should a byte not start or continue a valid
// sequence, it stands for one U+FFFD so that a bad caller gets a well-defined
// query instead of a read past the text.
std::vector<char32_t> decode_utf8(std::string_view text,
                                  std::size_t most = std::numeric_limits<std::size_t>::max());

// Appends the UTF-8 form of `character`; a value that is not a Unicode scalar
// value (a surrogate, or above U+10FFFF) is written as U+FFFD so that the text
// stays valid UTF-8 whatever an index image holds.
void append_utf8(std::string& text, char32_t character);

}  // namespace kelnor
