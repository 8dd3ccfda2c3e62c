// The gram filter's say in the fast walk (gram_filter.hpp): which children of
// a node of the top's first levels the query's characters may follow.
//
// A child whose prospect has cells (BitParallelRows::prospect) leads within
// the bound only if the query's characters after one of those cells continue
// below it. For each cell with three characters after it, the filter tells
// which of the node's children those three surely do not follow; a child
// ruled out for every cell is left out. Like every filter of the walk it only
// leaves out children that cannot lead within the bound, so the walk visits
// what the checked walk visits, in the same order.
//
// The filter is read in three places of the walk, each decided here:
// - unmatched(): once per node, for all its unmatched children at once, since
//   they share one row and so one set of cells; the sieve then passes over
//   those ruled out sixteen at a time (BitParallelWalk::candidates());
// - may_follow(): per cell, for any other child, while its lookahead is
//   tested (BitParallelRows::met);
// - matched_cells(): a wide matched child's row holds the unmatched row's
//   cells and those that its label matches; where unmatched() already ruled
//   the child out, only the latter are left to try.
// Children are named by their place among the node's children modulo 64,
// which is their bit in a block of the walk's frame (blocks start at the
// first child and hold 64).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "index/trie/gram_filter.hpp"
#include "queries/walk/query_masks.hpp"
#include "queries/walk/walk_codegen.hpp"

namespace kelnor {

class GramCheck {
  public:
    // Where the filter has no say: every child is left in.
    static constexpr std::uint64_t EVERY_CHILD = ~std::uint64_t{0};

    GramCheck(const QueryMasks& query, const GramFilter& filter) noexcept
        : query_(query), filter_(filter) {}

    // Of the unmatched children of a node (in the top when `in_top`, as top
    // node `top_node`) whose unmatched row has the prospect cells `cells`,
    // those left in, by place.
    KELNOR_WALK_INLINE std::uint64_t unmatched(bool in_top, std::size_t top_node,
                                               std::uint64_t cells) const noexcept {
        if (!in_top || top_node >= filter_.end() || cells == 0) return EVERY_CHILD;
        std::uint64_t children = 0;
        for (; cells != 0; cells &= cells - 1) {
            children |= query_.following_children(
                filter_, top_node, static_cast<std::size_t>(std::countr_zero(cells)));
        }
        return children;
    }

    // Whether the query's characters from `cell` on may follow the child at
    // `place` of top node `top_node`.
    KELNOR_WALK_INLINE bool may_follow(std::size_t top_node, std::size_t cell,
                                       std::size_t place) const noexcept {
        return top_node >= filter_.end() ||
               (query_.following_children(filter_, top_node, cell) >> place & 1) != 0;
    }

    // Narrows `cells`, the prospect cells of the row of a matched child at
    // `place`, of a node whose unmatched row has the prospect cells
    // `unmatched_cells` and the children `unmatched_children` left in by
    // unmatched(); returns false when that leaves the child no cell to try.
    KELNOR_WALK_INLINE static bool matched_cells(std::uint64_t& cells,
                                                 std::uint64_t unmatched_cells,
                                                 std::uint64_t unmatched_children,
                                                 std::size_t place) noexcept {
        if (cells == 0 || (unmatched_children >> place & 1) != 0) return true;
        cells &= ~unmatched_cells;
        return cells != 0;
    }

  private:
    const QueryMasks& query_;
    const GramFilter& filter_;
};

}  // namespace kelnor
