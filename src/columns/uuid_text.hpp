// UUIDs written as text, read the way the record path reads a video id
// string (Python's uuid.UUID): "urn:" and "uuid:" dropped wherever they
// stand, braces stripped from both ends, hyphens dropped, and then exactly
// 32 characters that Python's int(text, 16) reads.
#pragma once

#include <optional>
#include <string_view>

#include "prefix/trie/trie.hpp"

namespace kelnor::columns {

// The UUID that `text` spells, or nothing. Only ASCII text is read: the rare
// non-ASCII digits and spaces that Python's int() also takes are refused.
std::optional<VideoUuid> parse_uuid_text(std::string_view text);

}  // namespace kelnor::columns
