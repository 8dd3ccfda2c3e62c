#include "queries/walk/walk_query.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "index/text/label_text.hpp"
#include "queries/walk/trie_walk.hpp"

namespace kelnor {

std::optional<std::vector<char32_t>> walk_query(const Trie& trie, std::string_view term_utf8,
                                                std::uint32_t max_dist) {
    const std::optional<std::uint32_t> deepest = trie.walk_index.deepest;
    if (!deepest) return decode_utf8(term_utf8);
    const std::uint64_t usable = std::uint64_t{*deepest} + std::min(max_dist, MAX_DISTANCE_BOUND);
    const auto most = static_cast<std::size_t>(
        std::min<std::uint64_t>(usable + 1, std::numeric_limits<std::size_t>::max()));
    std::vector<char32_t> query = decode_utf8(term_utf8, most);
    if (query.size() > usable) return std::nullopt;
    return query;
}

}  // namespace kelnor
