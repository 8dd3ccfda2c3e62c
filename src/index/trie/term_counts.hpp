// The counts that rank suggestions, set once per index like the walk index
// (walk_index.hpp) and never stored in the image.
//
// A term's own count is, for an index built from records, the exact sum of
// the term's own record counts, kept from the build (and carried beside the
// image by index files and pickles). Where no such sums are given, it is
// derived: the node's payload total less the totals its children passed up
// to it in propagation (never below 0), which is exact as long as no total
// on the way saturated at 2^32 - 1. Suggestions are ranked by it, and a
// best-first search over completions needs, for every node, the best own
// count of a term on or below it, so that a subtree that cannot make the
// answer is never entered.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace kelnor {

struct Trie;

// A term's own count: a sum of 32-bit record counts, which 64 bits hold for
// any number of records a machine can keep (it saturates rather than wraps).
using TermCount = std::uint64_t;

// A bound that says nothing: any count may lie below.
inline constexpr TermCount UNKNOWN_BEST_BELOW = std::numeric_limits<TermCount>::max();

// A node's two counts side by side: the search reads a node's best count
// when it queues the node and its own count when it expands it, so the
// second read finds the line of the first.
struct NodeCounts {
    TermCount own;
    // The greatest own count of a terminal node on or below the node along
    // labelled edges, or UNKNOWN_BEST_BELOW where a labelled child is not
    // numbered above its parent (the subtree may then reach back up).
    TermCount best_below;
};

struct TermCounts {
    // One entry per node when the trie is sound and has a payload slot and a
    // terminal flag for every node; otherwise empty, and the counts are read
    // from the trie with bounds checks as they are needed.
    std::vector<NodeCounts> nodes;
    // Whether the own counts are the exact sums that a build gave, rather
    // than derived from the payload totals.
    bool exact = false;

    // The own count of `node` (InternalFailure on a damaged index).
    TermCount own(const Trie& trie, std::uint32_t node) const;

    TermCount best_below(std::uint32_t node) const {
        return nodes.empty() ? UNKNOWN_BEST_BELOW : nodes[node].best_below;
    }

    // Where `node`'s counts are, for a prefetch; null when they are not kept.
    const void* address_of(std::uint32_t node) const {
        return nodes.empty() ? nullptr : &nodes[node];
    }
};

// The counts of `trie`, derived from its payload totals.
TermCounts term_counts_of(const Trie& trie);

// The counts of `trie` with `exact_own[node]` as each node's own count.
// Precondition: the trie is sound with a payload slot and a terminal flag per
// node (as every trie a build makes is), and `exact_own` has an entry per node.
TermCounts term_counts_of(const Trie& trie, std::span<const TermCount> exact_own);

// Whether term_counts_of() can take exact own counts for `trie`: the
// precondition above but for the counts themselves.
bool takes_exact_counts(const Trie& trie);

}  // namespace kelnor
