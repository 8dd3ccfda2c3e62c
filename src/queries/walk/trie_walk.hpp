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

#include <cstdint>
#include <optional>
#include <span>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/walk/edit_metric.hpp"
#include "queries/walk/hit_reporter.hpp"

namespace kelnor {

// Distances are at most this large; a greater max_dist means this one.
inline constexpr std::uint32_t MAX_DISTANCE_BOUND = 65535;

// `report(node, distance, path, label)` is called for each node within the
// bound, the distance being that of `metric` (edit_metric.hpp): `path` holds the labels from depth
// 1 down to the node's parent and `label` is the node's own. It returns whether it recorded a hit;
// the walk stops as soon as `limit` hits are recorded, and records none for a limit of 0. A trie
// without nodes has no root and yields nothing. Raises InternalFailure on a damaged index (a read
// it cannot make, or a walk past its budget) and Interrupted when `interrupt` says stop.
void walk_within_distance(const Trie& trie, std::span<const char32_t> query, std::uint32_t max_dist,
                          EditMetric metric, std::optional<std::uint32_t> limit,
                          const InterruptCheck& interrupt, HitReporter report);

}  // namespace kelnor
