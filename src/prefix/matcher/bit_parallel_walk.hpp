// The walk for a sound index (WalkIndex::sound), short queries and small
// bounds: bit-parallel rows (bit_parallel_rows.hpp) over the walk index
// (walk_index.hpp), visiting the same nodes in the same order as the checked
// walk (see trie_walk.hpp).
//
// Fewer rows: once a row has no cell below the bound, only a child whose
// label continues the query exactly can stay within it; each child's label
// byte is tested against the characters that would (one table lookup, see
// label_filter.hpp) and a row is computed only for the children that pass.
//
// Fewer visits: a child whose subtree holds no path long enough to come
// within the bound of the query (walk_index.hpp keeps each child's height)
// is left out, for nothing below it could be offered to the reporter.
//
// Cache: labels are read from the bytes beside the edges, so passing over a
// child touches no memory of the child; the top levels, which every query
// walks, come from the breadth-first top.
//
// Order: a node's children are all examined when the node is visited, last
// to first, and those within the bound are stacked, so that the first is
// visited next; a node is offered to the reporter when it is visited, which
// keeps depth-first pre-order. Examining siblings ahead of time reads nothing that
// could fail, since every read of a sound index succeeds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "prefix/matcher/bit_parallel_rows.hpp"
#include "prefix/matcher/growing_stack.hpp"
#include "prefix/matcher/label_filter.hpp"
#include "prefix/matcher/query_masks.hpp"
#include "prefix/trie/trie.hpp"
#include "prefix/trie/walk_index.hpp"

namespace kelnor {

// The walk of walk_within_distance() for a sound trie and bound `Bound`.
template <std::uint32_t Bound, class Reporter>
void walk_bit_parallel(const Trie& trie, const QueryMasks& query,
                       std::optional<std::uint32_t> limit, Reporter& report) {
    using Rows = BitParallelRows<Bound>;
    constexpr std::uint32_t kNotInTop = ~std::uint32_t{0};
    // Room for the waiting nodes of most walks.
    constexpr std::size_t kPendingRoom = 256;
    // A node within the bound, waiting for its visit.
    struct Pending {
        typename Rows::Row row;
        std::uint32_t node;
        std::uint32_t top;  // its top node, or kNotInTop
        std::uint32_t depth;
        char32_t label;
    };

    const Rows rows(query);
    const WalkIndex& index = trie.walk_index;
    const std::uint32_t* top_first = index.top_first.data();
    const std::uint32_t* top_nodes = index.top_nodes.data();
    const std::uint8_t* top_labels = index.top_labels.data();
    const std::uint8_t* edge_labels = index.edge_labels.data();
    const std::uint8_t* top_heights = index.top_heights.data();
    const std::uint8_t* edge_heights = index.edge_heights.data();
    const std::uint32_t* transitions = trie.child_transitions.data();
    const std::size_t transition_count = trie.child_transitions.size();
    const std::vector<std::uint32_t>& shifts = trie.node_shifts;
    const LabelByteTable& label_bytes = rows.label_bytes();

    std::array<char32_t, Rows::kMaxDepth + 1> path;
    GrowingStack<Pending> pending(kPendingRoom);
    pending.push({rows.first_row(), 0, index.inner_top > 0 ? 0 : kNotInTop, 0, 0});
    std::uint32_t recorded = 0;
    while (!pending.empty()) {
        const Pending visit = pending.pop();
        if (visit.depth > 0) {
            const std::uint32_t distance = rows.distance(visit.row);
            path[visit.depth] = visit.label;
            if (distance <= Bound &&
                report(visit.node, distance,
                       std::span<const char32_t>(path.data() + 1, visit.depth - 1), visit.label) &&
                limit && ++recorded >= *limit) {
                return;
            }
        }
        const std::uint64_t continuation = rows.continuation(visit.row);
        const std::uint64_t filter = label_filter(continuation);
        // The children: top nodes, or positions of child_transitions.
        const bool in_top = visit.top < index.inner_top;
        const std::uint8_t* labels = in_top ? top_labels : edge_labels;
        const std::uint8_t* heights = in_top ? top_heights : edge_heights;
        const std::uint32_t* nodes = in_top ? top_nodes : transitions;
        std::size_t begin;
        std::size_t end;
        if (in_top) {
            begin = top_first[visit.top];
            end = top_first[visit.top + 1];
        } else {
            begin = shifts[visit.node];
            end = visit.node + 1 < shifts.size() ? shifts[visit.node + 1] : transition_count;
        }
        // Last to first, so that the first child within the bound is visited next.
        for (std::size_t k = end; k-- > begin;) {
            const std::uint8_t byte = labels[k];
            if ((label_bytes[byte] & filter) == 0) continue;
            const std::uint32_t child = nodes[k];
            const char32_t label = byte != kLabelElsewhere ? byte : trie.child_labels[child];
            typename Rows::Row row;
            if (label == 0 || !rows.extend(visit.row, visit.depth, label, continuation, row) ||
                !rows.may_end_within(row, heights[k])) {
                continue;
            }
            const std::uint32_t child_top = in_top ? static_cast<std::uint32_t>(k) : kNotInTop;
            pending.push({row, child, child_top, visit.depth + 1, label});
        }
    }
}

}  // namespace kelnor
