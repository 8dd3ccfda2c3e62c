#include "video_id_text.hpp"

#include <cstddef>

namespace kelnor {

std::string uuid_text(const VideoUuid& bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) text.push_back('-');
        text.push_back(DIGITS[bytes[k] >> 4]);
        text.push_back(DIGITS[bytes[k] & 0x0F]);
    }
    return text;
}

std::optional<std::string> video_id_text(const Trie& trie, std::uint32_t position) {
    if (trie.id_mode == IdMode::Int32) {
        if (position >= trie.video_int_ids.size()) return std::nullopt;
        return std::to_string(trie.video_int_ids[position]);
    }
    if (position >= trie.video_uuids.size()) return std::nullopt;
    return uuid_text(trie.video_uuids[position]);
}

}  // namespace kelnor
