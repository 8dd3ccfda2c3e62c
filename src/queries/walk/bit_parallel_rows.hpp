// The edit-distance rows of a query walk for short queries and small bounds,
// a few machine words per row.
//
// The rows are those of distance_table.hpp, held as the bit-parallel
// simulation of the Levenshtein automaton (Wu and Manber 1992; Baeza-Yates and
// Navarro 1999): for each error count e from 0 to the bound, one 64-bit word
// whose bit j says whether the distance between the query's first j
// characters and the path is at most e. A row follows from its parent row in
// O(bound) word operations, whatever the query length:
//
//   R'[0] = (R[0] << 1) & M
//   R'[e] = ((R[e] << 1) & M) | (R[e-1] << 1) | R[e-1] | (R'[e-1] << 1) | [depth + 1 <= e]
//
// where M has bit j set when the query's character j - 1 equals the label.
// Some cell lies within the bound exactly when R'[bound] is not zero, and the
// whole query's distance is the least e whose word has bit n set; both read
// the same as the full table's row minimum and last cell.
//
// With swaps (EditMetric::optimal_string_alignment) a cell can also come from
// the row two depths up, when the path's last two labels are the query's
// characters j - 1 and j - 2 (0-based) in that order. A row then carries the
// pending words P beside R: bit j of P[e] says that the path's parent was
// within e - 1 edits of the query's first j - 2 characters and the path's
// last label is the query's character j - 1, so that a child labelled with
// character j - 2 completes the swap and has cell j at e edits:
//
//   P'[0] = 0,  P'[e] = (R[e-1] << 2) & M
//   R'[e] = (as above) | (P[e] & (M << 1))
//
// A swap costs one edit in both its characters, so a cell it makes feeds
// the later words through (R'[e-1] << 1) as any other, and no character
// takes part in two edits.
//
// Bit 0 stands for the empty query prefix, so queries of up to 62 characters
// fit a word with bit 63 to spare. The bound is a template argument so that a
// row is a handful of unrolled instructions.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "queries/walk/edit_metric.hpp"
#include "queries/walk/query_masks.hpp"
#include "queries/walk/walk_codegen.hpp"

namespace kelnor {

inline constexpr std::uint32_t MAX_BIT_PARALLEL_BOUND = 8;

// What a child needs for the walk to enter it (BitParallelRows::prospect):
// a height of at least `least_height`, and, unless `cells` is 0, a lookahead
// (walk_index.hpp) that holds QueryMasks::lookahead_after(j) for one of the
// cells j.
struct Prospect {
    std::uint32_t least_height;
    std::uint64_t cells;
};

template <std::uint32_t Bound, EditMetric Metric>
class BitParallelRows {
    static constexpr bool SWAPS = Metric == EditMetric::optimal_string_alignment;
    // Within no edit both metrics are exact spelling: the walk takes the
    // Levenshtein rows there (trie_walk.cpp).
    static_assert(!SWAPS || Bound > 0);

  public:
    // R[0] to R[Bound].
    using Words = std::array<std::uint64_t, Bound + 1>;
    struct SwapRow {
        Words words;
        Words pending;  // P[0] (always 0) to P[Bound]
        bool operator==(const SwapRow&) const = default;
    };
    using Row = std::conditional_t<SWAPS, SwapRow, Words>;

    // More than any height.
    static constexpr std::uint32_t HOPELESS = 256;

    // The deepest row of a walk: every cell of a deeper one exceeds the bound.
    static constexpr std::size_t MAX_DEPTH = QueryMasks::MAX_LENGTH + Bound + 1;

    explicit BitParallelRows(const QueryMasks& query)
        : query_(query),
          cells_((std::uint64_t{1} << (query.length() + 1)) - 1),
          last_(std::uint64_t{1} << query.length()) {}

    // Row 0: the query's first j characters are j edits from the empty path.
    KELNOR_WALK_INLINE Row first_row() const noexcept {
        Row row{};
        for (std::uint32_t e = 0; e <= Bound; ++e) {
            words(row)[e] = e >= query_.length() ? cells_ : (std::uint64_t{1} << (e + 1)) - 1;
        }
        return row;
    }

    // The row of the path of `parent` (at `depth`) extended by a label whose
    // query mask is `match`.
    KELNOR_WALK_INLINE Row extend(const Row& parent, std::size_t depth,
                                  std::uint64_t match) const noexcept {
        Row row;
        const Words& above = words(parent);
        std::uint64_t current = (above[0] << 1) & match;
        words(row)[0] = current;
        if constexpr (SWAPS) row.pending[0] = 0;
        for (std::uint32_t e = 1; e <= Bound; ++e) {
            const std::uint64_t below = above[e - 1];
            std::uint64_t next = ((above[e] << 1) & match) | (below << 1) | below | (current << 1) |
                                 (depth + 1 <= e ? 1u : 0u);
            if constexpr (SWAPS) {
                next |= parent.pending[e] & (match << 1);
                row.pending[e] = (below << 2) & match;
            }
            current = next & cells_;
            words(row)[e] = current;
        }
        return row;
    }

    // Whether no cell of the row is below the bound, and, with swaps, no
    // swap is pending within it (P[Bound] == 0; P[e] only grows with e).
    // Such a row's cells can stay within the bound only through matches: a
    // child's row is then the cells after those at the bound whose next
    // query character is its label, narrow_row(query mask of the label &
    // continuation(row)), with no swap pending, and a narrow row is the last
    // word alone. A row with a swap pending is wide even when no cell is
    // below the bound: a child can take a cell by the swap.
    KELNOR_WALK_INLINE static bool narrow(const Row& row) noexcept {
        if constexpr (SWAPS) return words(row)[Bound - 1] == 0 && row.pending[Bound] == 0;
        if constexpr (Bound > 0) return words(row)[Bound - 1] == 0;
        return true;
    }

    KELNOR_WALK_INLINE static Row narrow_row(std::uint64_t cells) noexcept {
        Row row{};
        words(row)[Bound] = cells;
        return row;
    }

    // Bit j + 1 for each cell j short of the end of the query: the query
    // positions that a label can match. extend() gives the same row for any
    // two labels whose masks agree on these bits, since a match counts only
    // where the parent has a cell before it (and each word's cells are among
    // the last word's). For a narrow row these are the positions that a
    // label can continue.
    //
    // With swaps, extend() also reads a label's mask at bit j - 1 for each
    // bit j of P[Bound] (completing a swap) and at bit c + 2 for each cell c
    // of R[Bound - 1] (starting one, in P'). Those bits are already here: a
    // bit j of P[e] comes from the parent's cell j - 2 at e - 1, which is
    // cell j - 2 of the row at e by a deletion; a cell c of R[Bound - 1]
    // puts c + 1 in R[Bound] by an insertion, up to n.
    KELNOR_WALK_INLINE std::uint64_t continuation(const Row& row) const noexcept {
        return (words(row)[Bound] & ~last_) << 1;
    }

    // Whether a node with the row (`cells` for a narrow row) can lead to
    // anything within the bound: whether its subtree holds a path long
    // enough, and, for a narrow row whose own path is not within the bound,
    // whether its children and grandchildren can continue the query
    // (QueryMasks::lookahead_after).
    KELNOR_WALK_INLINE Prospect prospect(const Row& row) const noexcept {
        const Words& cells = words(row);
        if (narrow(row)) return narrow_prospect(cells[Bound]);
        // A cell j at e edits needs at least n - j - (Bound - e) more labels:
        // a label takes a cell one character on at most, and a swap two with
        // two labels. A bit j of P[e] needs one label more than cell j at e,
        // as many as cell j - 1 at e, which the row holds (a substitution
        // from the parent's cell j - 2), so the cells of R decide alone.
        long least = HOPELESS;
        for (std::uint32_t e = 0; e <= Bound; ++e) {
            if (cells[e] == 0) continue;
            const long deepest = 63 - std::countl_zero(cells[e]);
            least = std::min(
                least, static_cast<long>(query_.length()) - deepest - static_cast<long>(Bound - e));
        }
        return {static_cast<std::uint32_t>(std::max(least, 0L)), 0};
    }

    KELNOR_WALK_INLINE Prospect narrow_prospect(std::uint64_t cells) const noexcept {
        const std::uint32_t least = least_height(cells);
        if ((cells & last_) != 0) return {least, 0};
        return {least, cells};
    }

    // Whether a child with this height and lookahead meets the prospect;
    // `may_follow(cell)` tells whether the child may be followed by the
    // query's characters from cell on, where the lookahead says it may.
    template <class MayFollow>
    KELNOR_WALK_INLINE bool met(const Prospect& prospect, std::uint32_t height,
                                std::uint64_t lookahead, MayFollow&& may_follow) const noexcept {
        if (height < prospect.least_height) return false;
        if (prospect.cells == 0) return true;
        for (std::uint64_t cells = prospect.cells; cells != 0; cells &= cells - 1) {
            const auto cell = static_cast<std::size_t>(std::countr_zero(cells));
            const std::uint64_t needed = query_.lookahead_after(cell);
            if ((lookahead & needed) == needed && may_follow(cell)) return true;
        }
        return false;
    }

    // The least height of a node whose narrow row has these cells (or of
    // any node whose cells are among them).
    KELNOR_WALK_INLINE std::uint32_t least_height(std::uint64_t cells) const noexcept {
        if (cells == 0) return HOPELESS;
        const auto deepest = static_cast<std::uint32_t>(63 - std::countl_zero(cells));
        return static_cast<std::uint32_t>(query_.length()) - deepest;
    }

    // The distance between the whole query and the row's path, or Bound + 1
    // when it exceeds the bound.
    KELNOR_WALK_INLINE std::uint32_t distance(const Row& row) const noexcept {
        const Words& cells = words(row);
        if ((cells[Bound] & last_) == 0) return Bound + 1;
        std::uint32_t e = 0;
        while ((cells[e] & last_) == 0) ++e;
        return e;
    }

  private:
    KELNOR_WALK_INLINE static Words& words(Row& row) noexcept {
        if constexpr (SWAPS) {
            return row.words;
        } else {
            return row;
        }
    }
    KELNOR_WALK_INLINE static const Words& words(const Row& row) noexcept {
        if constexpr (SWAPS) {
            return row.words;
        } else {
            return row;
        }
    }

    const QueryMasks& query_;
    std::uint64_t cells_;  // bits 0..n
    std::uint64_t last_;   // bit n
};

}  // namespace kelnor
