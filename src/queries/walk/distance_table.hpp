// The edit-distance table of one query walk: one row per depth of the path.
//
// Row d holds, for prefixes of the query, the distance in the table's metric
// (edit_metric.hpp, unit costs) to the text of the path's first d labels.
// For the Levenshtein distance a row follows from its parent row alone; the
// optimal string alignment distance also reads the row two depths up where
// the path's last two labels are the swapped pair of query characters
// before the cell:
//
//   row[d][j] = min(..., row[d-2][j-2] + 1)   when path[d] = query[j-1] and path[d-1] = query[j]
//
// (1-based). Rows are reused by every node at the same depth, so the table
// keeps the label of each row's path beside it.
//
// The band (Ukkonen 1985): the distance between a prefix of j characters and
// a text of d labels is at least |d - j| (in both metrics: a swap changes no
// length), so only the cells with |d - j| <= bound can be within the bound,
// and a row keeps just those, at most 2 * bound + 1 of them, whatever the
// query's length. A cell outside the band counts as bound + 1. Cells are
// clamped to bound + 1 too: every decision of the walk (prune a row whose
// least cell exceeds the bound, report a last cell within it) reads the same
// from the banded, clamped table as from the exact one, and cells of 32 bits
// stay exact below the bound for any query length and any depth. A swap
// reads cell j - 2 of row d - 2, on the same diagonal as cell j of row d, so
// within that row's band whenever cell j is within row d's.
//
// Pruning holds with swaps too: a row's least cell is at most one more than
// its parent's, so when it exceeds the bound the parent's is at least the
// bound, and a swap from the parent's row into the next costs more than the
// bound: no row below comes back within it.
//
// Memory: a row is allocated the first time the walk reaches its depth, so a
// walk costs (deepest depth reached + 1) rows of
// min(2 * bound + 1, query length + 1) cells. A row whose cells all exceed
// the bound is pruned, and row d has no cell in the band beyond depth
// query length + bound, so no walk goes deeper than that, nor deeper than
// the trie's longest path; only a cycle in a damaged index reaches the first
// limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "queries/walk/edit_metric.hpp"

namespace kelnor {

class DistanceTable {
  public:
    // Row 0, the distances from the empty path, is filled at once.
    // Precondition: bound <= 65535.
    DistanceTable(std::span<const char32_t> query, std::uint32_t bound, EditMetric metric);

    // Fills row depth + 1 for the path of row `depth` extended by `label` and
    // returns its least cell. Precondition: row `depth` has been filled.
    std::uint32_t extend(std::size_t depth, char32_t label);

    // The distance between the whole query and the path of row `depth`
    // (clamped to bound + 1). Precondition: row `depth` has been filled.
    std::uint32_t query_distance(std::size_t depth) const;

    // The most cells that a row computes.
    std::size_t row_width() const noexcept { return width_; }

  private:
    // The band of row `depth`: query prefixes of [first, last] characters;
    // empty when first > last.
    std::size_t band_first(std::size_t depth) const noexcept {
        return depth > bound_ ? depth - bound_ : 0;
    }
    std::size_t band_last(std::size_t depth) const noexcept;

    // extend() for row `child` >= 1, with the swaps of the optimal string
    // alignment distance or without.
    template <bool Swaps>
    std::uint32_t fill(std::size_t child, char32_t label);

    std::span<const char32_t> query_;
    std::uint32_t bound_;
    std::uint32_t ceiling_;
    std::size_t width_;
    EditMetric metric_;
    // Row d's cell for a prefix of j characters is rows_[d][j - band_first(d)].
    std::vector<std::vector<std::uint32_t>> rows_;
    // labels_[d]: the last label of row d's path (d >= 1; 0 for row 0).
    std::vector<char32_t> labels_;
};

}  // namespace kelnor
