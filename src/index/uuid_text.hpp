// UUIDs as text, both ways: written in the one form kelnor gives them, and
// read the way the record path reads a video id string (Python's uuid.UUID).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "index/trie/trie.hpp"

namespace kelnor {

// Lower-case 8-4-4-4-12 UUID text.
std::string uuid_text(const VideoUuid& bytes);

// The UUID that `text` spells, or nothing: "urn:" and "uuid:" dropped
// wherever they stand, braces stripped from both ends, hyphens dropped, and
// then exactly 32 characters that Python's int(text, 16) reads. Only ASCII
// text is read: the rare non-ASCII digits and spaces that Python's int() also
// takes are refused.
std::optional<VideoUuid> parse_uuid_text(std::string_view text);

}  // namespace kelnor
