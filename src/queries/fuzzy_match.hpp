// The term matcher: indexed terms spelled within a few edits of a query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {

struct MatchResult {
    std::string term;  // UTF-8 labels from the root (excluded) down to the node
    std::uint32_t node;
    std::uint32_t distance;  // Levenshtein distance to the query, within the bound

    friend bool operator==(const MatchResult&, const MatchResult&) = default;
};

// The terminal nodes whose path text lies within min(max_dist, 65535) edits
// of `term_utf8`, in depth-first pre-order (see trie_walk.hpp), at most
// `limit` of them (the first ones in that order). Raises InternalFailure on a
// damaged index (see walk_within_distance()) and Interrupted when `interrupt`
// says stop.
std::vector<MatchResult> fuzzy_match(const Trie& trie, std::string_view term_utf8,
                                     std::uint32_t max_dist, std::optional<std::uint32_t> limit,
                                     const InterruptCheck& interrupt = {});

}  // namespace kelnor
