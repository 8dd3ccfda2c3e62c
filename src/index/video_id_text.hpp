// The text by which the host knows a video.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "index/trie/trie.hpp"

namespace kelnor {

// The id of the video at `position` in the table that the trie's id mode
// selects: decimal text in Int32 mode, lower-case 8-4-4-4-12 UUID text
// otherwise. None when the position lies outside that table (the build does
// not check video positions).
std::optional<std::string> video_id_text(const Trie& trie, std::uint32_t position);

}  // namespace kelnor
