// The counts that rank suggestions, derived once per index like the walk
// index (walk_index.hpp) and never stored in the image.
//
// A term's own count is its node's payload total less the totals its
// children passed up to it in propagation (never below 0): for an index
// built from records, the sum of the term's own record counts. Suggestions
// are ranked by it, and a best-first search over completions needs, for
// every node, the best own count of a term on or below it, so that a subtree
// that cannot make the answer is never entered.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace kelnor {

struct Trie;

// A bound that says nothing: any count may lie below.
inline constexpr std::uint32_t UNKNOWN_BEST_BELOW = std::numeric_limits<std::uint32_t>::max();

struct TermCounts {
    // Both hold one entry per node when the trie is sound and has a payload
    // slot and a terminal flag for every node; otherwise both are empty and
    // the counts are read from the trie with bounds checks as they are needed.
    std::vector<std::uint32_t> own;
    // The greatest own count of a terminal node on or below each node along
    // labelled edges, or UNKNOWN_BEST_BELOW where a labelled child is not
    // numbered above its parent (the subtree may then reach back up).
    std::vector<std::uint32_t> best_below;

    // 8 bytes per node, for the memory figures.
    std::size_t bytes() const noexcept {
        return (own.capacity() + best_below.capacity()) * sizeof(std::uint32_t);
    }
};

TermCounts term_counts_of(const Trie& trie);

// The own count of `node`, read from the trie's arrays with bounds checks
// (InternalFailure on a damaged index).
std::uint32_t own_count(const Trie& trie, std::uint32_t node);

}  // namespace kelnor
