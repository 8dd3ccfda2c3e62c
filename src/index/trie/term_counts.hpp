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

// A node's two counts side by side: the search reads a node's best count
// when it queues the node and its own count when it expands it, so the
// second read finds the line of the first.
struct NodeCounts {
    std::uint32_t own;
    // The greatest own count of a terminal node on or below the node along
    // labelled edges, or UNKNOWN_BEST_BELOW where a labelled child is not
    // numbered above its parent (the subtree may then reach back up).
    std::uint32_t best_below;
};

struct TermCounts {
    // One entry per node when the trie is sound and has a payload slot and a
    // terminal flag for every node; otherwise empty, and the counts are read
    // from the trie with bounds checks as they are needed.
    std::vector<NodeCounts> nodes;

    // The own count of `node` (InternalFailure on a damaged index).
    std::uint32_t own(const Trie& trie, std::uint32_t node) const;

    std::uint32_t best_below(std::uint32_t node) const {
        return nodes.empty() ? UNKNOWN_BEST_BELOW : nodes[node].best_below;
    }

    // Where `node`'s counts are, for a prefetch; null when they are not kept.
    const void* address_of(std::uint32_t node) const {
        return nodes.empty() ? nullptr : &nodes[node];
    }
};

TermCounts term_counts_of(const Trie& trie);

}  // namespace kelnor
