// Tries for the core tests, made the way a host makes them: from terms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "builds/internal_data.hpp"
#include "builds/video_index.hpp"
#include "index/payload/payload.hpp"
#include "index/trie/trie.hpp"

namespace kelnor::core_test {

struct PayloadLists {
    std::uint32_t total_count = 0;
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
    bool operator==(const PayloadLists&) const = default;
};

// For failure messages: (total_count, [ids], [counts]).
std::ostream& operator<<(std::ostream& out, const PayloadLists& payload);

struct TermEntry {
    std::u32string term;
    PayloadLists payload;
};

// The host's arrays for a trie over `entries`: terms with a common prefix
// share its nodes, nodes are numbered in depth-first pre-order from the root
// (so every child above its parent), each node's children in the order in
// which their first term came. The empty term puts its payload on the root.
InternalData internal_data_of(const std::vector<TermEntry>& entries);

// The index that the build makes of `entries` (propagated with `top_n`).
Trie built_trie(const std::vector<TermEntry>& entries, VideoTable videos = {},
                std::uint32_t top_n = 10);

// A table of one payload per given entry, absent where `present` is false.
PayloadTable payload_table(const std::vector<std::optional<PayloadLists>>& payloads);

// The payload of `node` as plain lists (a present slot is required).
PayloadLists payload_of(const Trie& trie, std::size_t node);

VideoTable int_videos(std::vector<std::uint32_t> ids);

}  // namespace kelnor::core_test
