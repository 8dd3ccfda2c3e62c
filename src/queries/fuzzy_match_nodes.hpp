// The node matcher: trie nodes whose path text is within a few edits of a
// query, for the video ranking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/walk/edit_metric.hpp"

namespace kelnor {

struct NodeHit {
    std::uint32_t node;
    std::uint32_t distance;  // distance to the query in the walk's metric, within the bound
};

// The nodes whose path text lies within min(max_dist, 65535) edits of
// `query` in `metric`, in depth-first pre-order (see trie_walk.hpp): all labelled nodes,
// or only terminal ones when `terminal_only`, at most `limit` of them (the
// first ones in that order). Raises InternalFailure on a damaged index (see
// walk_within_distance()) and Interrupted when `interrupt` says stop.
std::vector<NodeHit> fuzzy_match_nodes(const Trie& trie, std::span<const char32_t> query,
                                       std::uint32_t max_dist, EditMetric metric,
                                       bool terminal_only, std::optional<std::uint32_t> limit,
                                       const InterruptCheck& interrupt = {});

// Whether a hit on a whole term at `distance` from a query of `query_length`
// code points says anything about the query: an exact hit always does; an
// inexact one only when it keeps at least one of the query's characters, that
// is when it lies fewer edits away than the query is long.
inline bool whole_term_hit_counts(std::uint32_t distance, std::size_t query_length) {
    return distance == 0 || distance < query_length;
}

// fuzzy_match_nodes() with terminal_only and no limit when that finds a
// terminal node for which whole_term_hit_counts(), and otherwise without
// terminal_only, from one walk.
std::vector<NodeHit> fuzzy_match_nodes_terminal_first(const Trie& trie,
                                                      std::span<const char32_t> query,
                                                      std::uint32_t max_dist, EditMetric metric,
                                                      const InterruptCheck& interrupt = {});

}  // namespace kelnor
