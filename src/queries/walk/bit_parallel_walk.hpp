// The walk for a sound index (WalkIndex::sound), short queries and small
// bounds: bit-parallel rows (bit_parallel_rows.hpp) over the walk index
// (walk_index.hpp), offering the same nodes in the same order as the checked
// walk (see trie_walk.hpp).
//
// Order: one frame per depth of the current path holds the node's row and
// which of its children are left, first to last; the walk takes the next
// child worth entering, offers it to the reporter and enters it, and returns
// to the parent once no child is left: depth-first pre-order. Frames live in
// a fixed array, since no row deeper than Rows::MAX_DEPTH has a cell within
// the bound.
//
// Fewer candidates: the children of a node are first sieved by their label
// bytes and heights, sixteen at a time (child_sieve.hpp). Once a row has no
// cell below the bound only an exact continuation of the query can stay
// within it, so only the children labelled with the characters that continue
// it pass; and a child whose subtree holds no path long enough to come
// within the bound is left out.
//
// Fewer visits: a child is entered only when it is worth it
// (BitParallelRows::prospect): it is within the bound, or some path below it
// can be; for a child whose row has no cell below the bound that means its
// children and grandchildren continue the query, which the lookahead of the
// top tells without visiting the child.
//
// Fewer rows: children whose label is no query character all share one row,
// computed once per node.
//
// Examining a child ahead of its visit reads nothing that could fail, since
// every read of a sound index succeeds.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "index/trie/walk_index.hpp"
#include "queries/walk/bit_parallel_rows.hpp"
#include "queries/walk/child_sieve.hpp"
#include "queries/walk/edit_metric.hpp"
#include "queries/walk/gram_check.hpp"
#include "queries/walk/hit_reporter.hpp"
#include "queries/walk/query_masks.hpp"
#include "queries/walk/walk_budget.hpp"
#include "queries/walk/walk_codegen.hpp"

namespace kelnor {

// The walk of walk_within_distance() for a sound trie, bound `Bound` and
// `Metric`. The metric changes the rows alone: with swaps a row carries the
// swaps pending and is wide while one is, so that a narrow row, its
// continuation and its least height (BitParallelRows) mean what they mean
// without swaps, and every filter below reads them as it does without.
template <std::uint32_t Bound, EditMetric Metric>
class BitParallelWalk {
    using Rows = BitParallelRows<Bound, Metric>;
    using Row = typename Rows::Row;
    // Children are examined in blocks of this many.
    static constexpr std::size_t BLOCK = 64;
    // How many positions of a continuation the sieve compares label bytes
    // with (ChildSieve::matching): as many as most narrow rows have, and as a
    // wide row has cells at the first bounds.
    static constexpr int NARROW_COMPARED = 3;
    static constexpr int WIDE_COMPARED = std::min(2 * static_cast<int>(Bound) + 1, 5);

    // A node on the current path and which of its children are left: the
    // candidates (those that the sieve passed) of the block of children at
    // positions [block, block + 64), of the top or of child_transitions.
    struct Frame {
        // continuation(row): the query positions that a child's label can
        // match. A label that matches none of them, even a query character
        // elsewhere, gives the child the same row as a label that matches
        // nothing: an unmatched child.
        std::uint64_t continuation;
        // Other than narrow rows: the row, and the row and prospect of the
        // unmatched children.
        Row row;
        Row unmatched;
        Prospect unmatched_prospect;
        // Of the unmatched children, those that the gram filter leaves in, by
        // bit (position - block) (GramCheck::unmatched).
        std::uint64_t unmatched_children;
        std::uint64_t candidates;
        // No child lower than this can be within the bound.
        std::uint8_t least_height;
        std::size_t block;
        std::size_t end;
        // The label bytes and heights of the children's positions.
        const std::uint8_t* labels;
        const std::uint8_t* heights;
        bool narrow;
        bool in_top;
        std::size_t top_node;  // the node's, when in_top
    };

  public:
    BitParallelWalk(const Trie& trie, const QueryMasks& query, std::optional<std::uint32_t> limit,
                    const InterruptCheck& interrupt, HitReporter report)
        : trie_(trie),
          query_(query),
          rows_(query),
          sieve_(query),
          index_(trie.walk_index),
          grams_(query, index_.grams),
          limit_(limit),
          budget_(trie, interrupt, VISITS_BETWEEN_CHECKS),
          report_(report) {}

    KELNOR_WALK_INLINE void run() {
        const bool root_in_top = index_.inner_top > 0;
        const ChildRange children =
            root_in_top ? ChildRange{index_.top[0].first_child, index_.top[1].first_child}
                        : child_range(trie_, 0);
        const Row first_row = rows_.first_row();
        if (!enter(0, first_row, rows_.prospect(first_row).least_height, children.begin,
                   children.end, root_in_top, 0)) {
            return;
        }
        std::size_t depth = 0;
        std::uint32_t recorded = 0;
        Child child;
        while (true) {
            if (!next_child(frames_[depth], depth, child)) {
                if (depth == 0) return;
                --depth;
                continue;
            }
            budget_.visit();
            path_[depth + 1] = child.label;
            const std::uint32_t distance = rows_.distance(child.row);
            if (distance <= Bound &&
                report_(child.node, distance, std::span<const char32_t>(path_.data() + 1, depth),
                        child.label) &&
                limit_ && ++recorded >= *limit_) {
                return;
            }
            if (enter(depth + 1, child.row, child.least_height, child.first, child.end,
                      child.in_top, child.top_node)) {
                ++depth;
            }
        }
    }

  private:
    // A child worth entering: it may be within the bound, or lead to a node
    // that is.
    struct Child {
        Row row;
        std::uint32_t least_height;  // of prospect(row), when the row is not narrow
        std::uint32_t node;
        char32_t label;
        std::size_t first;  // its children: positions [first, end)
        std::size_t end;
        bool in_top;
        std::size_t top_node;  // when in_top
    };

    // Sets up the frame at `depth` for a node with `row` whose children are
    // at positions [first, end) (of the top when `in_top`, as top node
    // `top_node`); returns whether any of them can be worth entering.
    // `least_height` is prospect(row).least_height, when the row is not
    // narrow.
    KELNOR_WALK_INLINE bool enter(std::size_t depth, const Row& row, std::uint32_t least_height,
                                  std::size_t first, std::size_t end, bool in_top,
                                  std::size_t top_node) {
        if (first >= end) return false;
        Frame& frame = frames_[depth];
        frame.narrow = Rows::narrow(row);
        frame.continuation = rows_.continuation(row);
        if (frame.narrow) {
            if (frame.continuation == 0) return false;
            // A child's cells are among the continuation's positions.
            frame.least_height = static_cast<std::uint8_t>(rows_.least_height(frame.continuation));
        } else {
            frame.row = row;
            frame.unmatched = rows_.extend(row, depth, 0);
            frame.unmatched_prospect = rows_.prospect(frame.unmatched);
            frame.unmatched_children =
                grams_.unmatched(in_top, top_node, frame.unmatched_prospect.cells);
            // A label takes a cell at most one character further (a swap's
            // second label takes the grandparent's cell two, but it puts the
            // one between in this row, as BitParallelRows::prospect says).
            frame.least_height = static_cast<std::uint8_t>(least_height > 0 ? least_height - 1 : 0);
        }
        frame.block = first;
        frame.end = end;
        frame.in_top = in_top;
        frame.top_node = top_node;
        const ChildBytes& bytes = in_top ? index_.top_bytes : index_.edge_bytes;
        frame.labels = bytes.labels(first);
        frame.heights = bytes.heights(end);
        frame.candidates = candidates(frame, first);
        return true;
    }

    KELNOR_WALK_INLINE std::uint64_t candidates(const Frame& frame,
                                                std::size_t block) const noexcept {
        const std::size_t count = std::min(frame.end - block, BLOCK);
        const std::uint8_t* labels = frame.labels + block;
        const std::uint8_t* heights = frame.heights + block;
        if (frame.narrow) {
            return sieve_.template matching<NARROW_COMPARED>(frame.continuation, labels, heights,
                                                             frame.least_height, count);
        }
        const std::uint64_t labelled =
            ChildSieve::labelled(labels, heights, frame.least_height, count);
        if (frame.unmatched_children == GramCheck::EVERY_CHILD) return labelled;
        // The unmatched children that the gram filter ruled out are passed
        // over here, before the walk reads their label bytes one by one.
        return (labelled & frame.unmatched_children) |
               sieve_.template matching<WIDE_COMPARED>(frame.continuation, labels, heights,
                                                       frame.least_height, count);
    }

    // Moves `frame` (at `depth`) on to its next child worth entering, sets
    // `child` to it and returns true; false once no child is left.
    KELNOR_WALK_INLINE bool next_child(Frame& frame, std::size_t depth, Child& child) {
        if (frame.narrow) {
            return frame.in_top ? next_child<true, true>(frame, depth, child)
                                : next_child<true, false>(frame, depth, child);
        }
        return frame.in_top ? next_child<false, true>(frame, depth, child)
                            : next_child<false, false>(frame, depth, child);
    }

    template <bool Narrow, bool InTop>
    KELNOR_WALK_INLINE bool next_child(Frame& frame, std::size_t depth, Child& child) {
        std::uint64_t candidates = frame.candidates;
        std::size_t block = frame.block;
        while (true) {
            while (candidates == 0) {
                if (frame.end - block <= BLOCK) return false;
                budget_.visit();  // a block's worth of work, however many children pass
                block += BLOCK;
                candidates = this->candidates(frame, block);
            }
            const std::size_t k = block + static_cast<std::size_t>(std::countr_zero(candidates));
            candidates &= candidates - 1;
            if (worth_entering<Narrow, InTop>(frame, depth, block, k, child)) {
                frame.candidates = candidates;
                frame.block = block;
                return true;
            }
        }
    }

    // Whether the candidate at position k (of the block at `block`) of
    // `frame` (at `depth`) is worth entering; if so sets `child` to it.
    template <bool Narrow, bool InTop>
    KELNOR_WALK_INLINE bool worth_entering(const Frame& frame, std::size_t depth, std::size_t block,
                                           std::size_t k, Child& child) const {
        const std::uint8_t byte = frame.labels[k];
        const std::uint8_t height = frame.heights[k];
        std::uint64_t match = query_.label_bytes()[byte] & frame.continuation;
        std::uint32_t node;
        std::uint64_t lookahead;
        if constexpr (InTop) {
            const TopNode& record = index_.top[k];
            node = record.node;
            lookahead = record.lookahead;
        } else {
            node = trie_.child_transitions[k];
            lookahead = ~std::uint64_t{0};  // not known: anything may follow
        }
        char32_t label = byte;
        if (byte == LABEL_ELSEWHERE) {
            label = trie_.child_labels[node];
            match = query_.of(label) & frame.continuation;
        }
        const auto may_follow = [&](std::size_t cell) {
            if constexpr (InTop) return grams_.may_follow(frame.top_node, cell, k - block);
            return true;
        };
        if constexpr (Narrow) {
            if (!rows_.met(rows_.narrow_prospect(match), height, lookahead, may_follow)) {
                return false;
            }
            child.row = Rows::narrow_row(match);
        } else if (match == 0) {
            // The gram filter has had its say through unmatched_children (and
            // let every child through where a cell has too few characters
            // left for it).
            const auto passed = [](std::size_t) { return true; };
            if (!rows_.met(frame.unmatched_prospect, height, lookahead, passed)) return false;
            child.row = frame.unmatched;
            child.least_height = frame.unmatched_prospect.least_height;
        } else {
            child.row = rows_.extend(frame.row, depth, match);
            Prospect prospect = rows_.prospect(child.row);
            if constexpr (InTop) {
                if (!GramCheck::matched_cells(prospect.cells, frame.unmatched_prospect.cells,
                                              frame.unmatched_children, k - block)) {
                    return false;
                }
            }
            if (!rows_.met(prospect, height, lookahead, may_follow)) return false;
            child.least_height = prospect.least_height;
        }
        child.node = node;
        child.label = label;
        child.in_top = InTop && k < index_.inner_top;
        child.top_node = k;
        const ChildRange children =
            child.in_top ? ChildRange{index_.top[k].first_child, index_.top[k + 1].first_child}
                         : child_range(trie_, node);
        child.first = children.begin;
        child.end = children.end;
        return true;
    }

    const Trie& trie_;
    const QueryMasks& query_;
    const Rows rows_;
    const ChildSieve sieve_;
    const WalkIndex& index_;
    const GramCheck grams_;
    std::optional<std::uint32_t> limit_;
    WalkBudget budget_;
    HitReporter report_;
    std::array<Frame, Rows::MAX_DEPTH + 1> frames_;
    std::array<char32_t, Rows::MAX_DEPTH + 1> path_;
};

// The walk, compiled for each instruction set that walk_codegen.hpp names.
// GCC takes a call through the dispatcher of such a function not to throw,
// so an exception must not leave it: whatever the reporter throws comes back
// as a value, for walk_bit_parallel() to throw on.
template <std::uint32_t Bound, EditMetric Metric>
KELNOR_CLONED_FOR_X86_64_V3 std::exception_ptr walk_bit_parallel_caught(
    const Trie& trie, const QueryMasks& query, std::optional<std::uint32_t> limit,
    const InterruptCheck& interrupt, HitReporter report) noexcept {
    try {
        BitParallelWalk<Bound, Metric>(trie, query, limit, interrupt, report).run();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

template <std::uint32_t Bound, EditMetric Metric>
void walk_bit_parallel(const Trie& trie, const QueryMasks& query,
                       std::optional<std::uint32_t> limit, const InterruptCheck& interrupt,
                       HitReporter report) {
    if (std::exception_ptr failure =
            walk_bit_parallel_caught<Bound, Metric>(trie, query, limit, interrupt, report)) {
        std::rethrow_exception(failure);
    }
}

// Runs the walk with its bound fixed at compile time, trying Bound,
// Bound + 1, ... up to MAX_BIT_PARALLEL_BOUND. Precondition: Bound <= bound
// <= MAX_BIT_PARALLEL_BOUND. Inlined into its one caller, as a function of
// that file alone would be.
template <EditMetric Metric, std::uint32_t Bound>
KELNOR_WALK_INLINE void walk_bit_parallel_within(const Trie& trie, const QueryMasks& query,
                                                 std::uint32_t bound,
                                                 std::optional<std::uint32_t> limit,
                                                 const InterruptCheck& interrupt,
                                                 HitReporter report) {
    if constexpr (Bound < MAX_BIT_PARALLEL_BOUND) {
        if (bound != Bound) {
            walk_bit_parallel_within<Metric, Bound + 1>(trie, query, bound, limit, interrupt,
                                                        report);
            return;
        }
    }
    walk_bit_parallel<Bound, Metric>(trie, query, limit, interrupt, report);
}

}  // namespace kelnor
