// The bounded edit-distance walk shared by the matchers.
//
// The walk visits the trie depth first from the root, children in the order
// of child_transitions, and keeps one row of a DistanceTable per depth of the
// current path. A child labelled 0 is passed over with its whole subtree; a
// child whose row has no cell within the bound is pruned with its subtree.
// Every other child whose path text is within the bound of the whole query is
// offered to the caller's reporter (a node's own offer comes before anything
// below it), and the walk then descends into it whether or not the reporter
// recorded it.
//
// The path is kept on an explicit stack, so a deep trie, or a cycle in a
// damaged one, cannot exhaust the native stack; the table's rows bound the
// depth (see distance_table.hpp). Every read of a trie array is bounds-checked
// and raises InternalFailure on a damaged index.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "internal_failure.hpp"
#include "prefix/matcher/distance_table.hpp"
#include "prefix/trie/trie.hpp"

namespace kelnor {

// Distances are at most this large; a greater max_dist means this one.
inline constexpr std::uint32_t MAX_DISTANCE_BOUND = 65535;

// `report(node, distance, path, label)` is called for each node within the
// bound: `path` holds the labels from depth 1 down to the node's parent and
// `label` is the node's own. It returns whether it recorded a hit; the walk
// stops as soon as `limit` hits are recorded, and records none for a limit
// of 0. A trie without nodes has no root and yields nothing.
template <class Reporter>
void walk_within_distance(const Trie& trie, std::span<const char32_t> query, std::uint32_t max_dist,
                          std::optional<std::uint32_t> limit, Reporter&& report) {
    if (limit == 0u || trie.node_shifts.empty()) return;
    const std::uint32_t bound = std::min(max_dist, MAX_DISTANCE_BOUND);
    DistanceTable table(query, bound);
    std::vector<char32_t> path;
    std::vector<ChildRange> unvisited{child_range(trie, 0)};
    std::uint32_t recorded = 0;
    while (!unvisited.empty()) {
        ChildRange& siblings = unvisited.back();
        if (siblings.empty()) {
            unvisited.pop_back();
            if (!unvisited.empty()) path.pop_back();
            continue;
        }
        const std::size_t depth = unvisited.size() - 1;
        const std::uint32_t child = checked_at(trie.child_transitions, siblings.begin++);
        const char32_t label = checked_at(trie.child_labels, child);
        if (label == 0) continue;
        if (table.extend(depth, label) > bound) continue;
        const std::uint32_t distance = table.query_distance(depth + 1);
        if (distance <= bound && report(child, distance, std::span<const char32_t>(path), label) &&
            limit && ++recorded >= *limit) {
            return;
        }
        path.push_back(label);
        unvisited.push_back(child_range(trie, child));
    }
}

}  // namespace kelnor
