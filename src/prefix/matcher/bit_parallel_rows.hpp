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
// Bit 0 stands for the empty query prefix, so queries of up to 62 characters
// fit a word with bit 63 to spare. The bound is a template argument so that a
// row is a handful of unrolled instructions.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "prefix/matcher/query_masks.hpp"
#include "prefix/matcher/walk_codegen.hpp"

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

template <std::uint32_t Bound>
class BitParallelRows {
  public:
    using Row = std::array<std::uint64_t, Bound + 1>;

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
        Row row;
        for (std::uint32_t e = 0; e <= Bound; ++e) {
            row[e] = e >= query_.length() ? cells_ : (std::uint64_t{1} << (e + 1)) - 1;
        }
        return row;
    }

    // The row of the path of `parent` (at `depth`) extended by a label whose
    // query mask is `match`.
    KELNOR_WALK_INLINE Row extend(const Row& parent, std::size_t depth,
                                  std::uint64_t match) const noexcept {
        Row row;
        std::uint64_t current = (parent[0] << 1) & match;
        row[0] = current;
        for (std::uint32_t e = 1; e <= Bound; ++e) {
            const std::uint64_t below = parent[e - 1];
            current = (((parent[e] << 1) & match) | (below << 1) | below | (current << 1) |
                       (depth + 1 <= e ? 1u : 0u)) &
                      cells_;
            row[e] = current;
        }
        return row;
    }

    // Whether no cell of the row is below the bound. Such a row's cells can
    // stay within the bound only through matches: a child's row is then the
    // cells after those at the bound whose next query character is its label,
    // narrow_row(query mask of the label & continuation(row)), and a narrow
    // row is the last word alone.
    KELNOR_WALK_INLINE static bool narrow(const Row& row) noexcept {
        if constexpr (Bound > 0) return row[Bound - 1] == 0;
        return true;
    }

    KELNOR_WALK_INLINE static Row narrow_row(std::uint64_t cells) noexcept {
        Row row{};
        row[Bound] = cells;
        return row;
    }

    // Bit j + 1 for each cell j short of the end of the query: the query
    // positions that a label can match. extend() gives the same row for any
    // two labels whose masks agree on these bits, since a match counts only
    // where the parent has a cell before it (and each word's cells are among
    // the last word's). For a narrow row these are the positions that a
    // label can continue.
    KELNOR_WALK_INLINE std::uint64_t continuation(const Row& row) const noexcept {
        return (row[Bound] & ~last_) << 1;
    }

    // Whether a node with the row (`cells` for a narrow row) can lead to
    // anything within the bound: whether its subtree holds a path long
    // enough, and, for a narrow row whose own path is not within the bound,
    // whether its children and grandchildren can continue the query
    // (QueryMasks::lookahead_after).
    KELNOR_WALK_INLINE Prospect prospect(const Row& row) const noexcept {
        if (narrow(row)) return narrow_prospect(row[Bound]);
        // A cell j at e edits needs at least n - j - (Bound - e) more labels.
        long least = HOPELESS;
        for (std::uint32_t e = 0; e <= Bound; ++e) {
            if (row[e] == 0) continue;
            const long deepest = 63 - std::countl_zero(row[e]);
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
        if ((row[Bound] & last_) == 0) return Bound + 1;
        std::uint32_t e = 0;
        while ((row[e] & last_) == 0) ++e;
        return e;
    }

  private:
    const QueryMasks& query_;
    std::uint64_t cells_;  // bits 0..n
    std::uint64_t last_;   // bit n
};

}  // namespace kelnor
