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
// fit a word with bit 63 to spare (see label_filter.hpp). The bound is a
// template argument so that a row is a handful of unrolled instructions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "prefix/matcher/label_filter.hpp"
#include "prefix/matcher/query_masks.hpp"

namespace kelnor {

inline constexpr std::uint32_t kMaxBitParallelBound = 8;

template <std::uint32_t Bound>
class BitParallelRows {
  public:
    using Row = std::array<std::uint64_t, Bound + 1>;

    // The deepest row of a walk: every cell of a deeper one exceeds the bound.
    static constexpr std::size_t kMaxDepth = QueryMasks::kMaxLength + Bound + 1;

    explicit BitParallelRows(const QueryMasks& query)
        : query_(query),
          cells_((std::uint64_t{1} << (query.length() + 1)) - 1),
          last_(std::uint64_t{1} << query.length()) {}

    // Row 0: the query's first j characters are j edits from the empty path.
    Row first_row() const noexcept {
        Row row;
        for (std::uint32_t e = 0; e <= Bound; ++e) {
            row[e] = e >= query_.length() ? cells_ : (std::uint64_t{1} << (e + 1)) - 1;
        }
        return row;
    }

    // Sets `row` to the row of the path of `parent` (at `depth`) extended by
    // `label`, and returns whether any of its cells is within the bound.
    // `continuation` is continuation(parent): when it narrows the labels, the
    // row is the matches alone, and a label that does not continue the path
    // is refused with one mask test.
    bool extend(const Row& parent, std::size_t depth, char32_t label, std::uint64_t continuation,
                Row& row) const noexcept {
        const std::uint64_t match = query_.of(label);
        if (continuation != kAnyContinuation) {
            const std::uint64_t kept = match & continuation;
            for (std::uint32_t e = 0; e < Bound; ++e) row[e] = 0;
            row[Bound] = kept;
            return kept != 0;
        }
        std::uint64_t current = (parent[0] << 1) & match;
        row[0] = current;
        for (std::uint32_t e = 1; e <= Bound; ++e) {
            const std::uint64_t below = parent[e - 1];
            current = (((parent[e] << 1) & match) | (below << 1) | below | (current << 1) |
                       (depth + 1 <= e ? 1u : 0u)) &
                      cells_;
            row[e] = current;
        }
        return current != 0;
    }

    // Whether some path that adds at most `height` labels to the row's path
    // can be within the bound: a cell j at e edits needs at least
    // n - j - height more edits to reach the end of the query.
    bool may_end_within(const Row& row, std::size_t height) const noexcept {
        const std::size_t n = query_.length();
        if (height >= n) return row[Bound] != 0;
        for (std::uint32_t e = 0; e <= Bound; ++e) {
            const std::size_t slack = Bound - e;
            const std::size_t from = n - height > slack ? n - height - slack : 0;
            if ((row[e] >> from) != 0) return true;
        }
        return false;
    }

    // The distance between the whole query and the row's path, or Bound + 1
    // when it exceeds the bound.
    std::uint32_t distance(const Row& row) const noexcept {
        if ((row[Bound] & last_) == 0) return Bound + 1;
        std::uint32_t e = 0;
        while ((row[e] & last_) == 0) ++e;
        return e;
    }

    // Which labels can continue the row's path, for extend() and the label
    // filter. When no cell of the row is below the bound, a cell can stay
    // within it only through a match, so a child is within the bound only if
    // its label is the query character after some cell at the bound: the
    // result has bit j + 1 for each such cell j. Otherwise kAnyContinuation
    // (and then every child is within the bound, since a cell below it stays
    // within it through a deletion).
    std::uint64_t continuation(const Row& row) const noexcept {
        if constexpr (Bound > 0) {
            if (row[Bound - 1] != 0) return kAnyContinuation;
        }
        // The last cell continues nowhere.
        return (row[Bound] & ~last_) << 1;
    }

    const LabelByteTable& label_bytes() const noexcept { return query_.label_bytes(); }

  private:
    const QueryMasks& query_;
    std::uint64_t cells_;  // bits 0..n
    std::uint64_t last_;   // bit n
};

}  // namespace kelnor
