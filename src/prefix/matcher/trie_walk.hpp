// The bounded edit-distance walk shared by the matchers.
//
// The walk visits the trie depth first from the root, children in the order
// of child_transitions, and keeps one row of the edit-distance table per depth
// of the current path. A child labelled 0 is passed over with its whole
// subtree; a child whose row has no cell within the bound is pruned with its
// subtree. Every other child whose path text is within the bound of the whole
// query is offered to the caller's reporter (a node's own offer comes before
// anything below it), and the walk then descends into it whether or not the
// reporter recorded it.
//
// Two walks visit the same nodes in the same order:
// - on a sound index (one whose arrays hold every position they refer to:
//   WalkIndex::sound), for queries of up to 62 characters and bounds of up to
//   8, the bit-parallel walk (bit_parallel_walk.hpp);
// - otherwise the checked walk (checked_walk.hpp), which reads the trie's
//   arrays with bounds checks in walk order, so that a damaged index fails
//   with InternalFailure on the first read it cannot make.
// Neither recurses: the bit-parallel walk keeps its path in a fixed array of
// frames and the checked walk on an explicit stack, so a deep trie, or a
// cycle in a damaged one, cannot exhaust the native stack; the rows bound the
// depth (see distance_table.hpp). Both count their visits against a budget,
// which child lists that reach a node by many paths would exceed, and ask
// the host every few thousand visits whether to stop (walk_budget.hpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "interrupt_check.hpp"
#include "prefix/matcher/bit_parallel_walk.hpp"
#include "prefix/matcher/checked_walk.hpp"
#include "prefix/matcher/query_masks.hpp"
#include "prefix/trie/trie.hpp"

namespace kelnor {

// Distances are at most this large; a greater max_dist means this one.
inline constexpr std::uint32_t MAX_DISTANCE_BOUND = 65535;

// Runs the bit-parallel walk with its bound fixed at compile time, trying
// Bound, Bound + 1, ... up to kMaxBitParallelBound.
template <std::uint32_t Bound = 0, class Reporter>
void walk_with_static_bound(const Trie& trie, const QueryMasks& query, std::uint32_t bound,
                            std::optional<std::uint32_t> limit, const InterruptCheck& interrupt,
                            Reporter& report) {
    if constexpr (Bound < kMaxBitParallelBound) {
        if (bound != Bound) {
            walk_with_static_bound<Bound + 1>(trie, query, bound, limit, interrupt, report);
            return;
        }
    }
    walk_bit_parallel<Bound>(trie, query, limit, interrupt, report);
}

// `report(node, distance, path, label)` is called for each node within the
// bound: `path` holds the labels from depth 1 down to the node's parent and
// `label` is the node's own. It returns whether it recorded a hit; the walk
// stops as soon as `limit` hits are recorded, and records none for a limit
// of 0. A trie without nodes has no root and yields nothing. Raises
// InternalFailure on a damaged index (a read it cannot make, or a walk past
// its budget) and Interrupted when `interrupt` says stop.
template <class Reporter>
void walk_within_distance(const Trie& trie, std::span<const char32_t> query, std::uint32_t max_dist,
                          std::optional<std::uint32_t> limit, const InterruptCheck& interrupt,
                          Reporter&& report) {
    if (limit == 0u || trie.node_shifts.empty()) return;
    const std::uint32_t bound = std::min(max_dist, MAX_DISTANCE_BOUND);
    // No path comes within the bound of a longer query (see walk_query.hpp).
    const std::optional<std::uint32_t> deepest = trie.walk_index.deepest;
    if (deepest && query.size() > std::uint64_t{*deepest} + bound) return;
    if (trie.walk_index.sound && query.size() <= QueryMasks::kMaxLength &&
        bound <= kMaxBitParallelBound) {
        const QueryMasks masks(query);
        walk_with_static_bound(trie, masks, bound, limit, interrupt, report);
        return;
    }
    walk_checked(trie, query, bound, limit, interrupt, report);
}

}  // namespace kelnor
