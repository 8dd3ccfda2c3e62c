#include "index/video_id_text.hpp"

#include "index/uuid_text.hpp"

namespace kelnor {

std::optional<std::string> video_id_text(const Trie& trie, std::uint32_t position) {
    if (trie.id_mode == IdMode::Int32) {
        if (position >= trie.video_int_ids.size()) return std::nullopt;
        return std::to_string(trie.video_int_ids[position]);
    }
    if (position >= trie.video_uuids.size()) return std::nullopt;
    return uuid_text(trie.video_uuids[position]);
}

}  // namespace kelnor
