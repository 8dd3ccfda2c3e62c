// The edit-distance table of one query walk: one row per depth of the path.
//
// Row d holds, for every prefix of the query, the Levenshtein distance
// (unit costs; no transposition) to the text of the path's first d labels.
// Rows are computed from their parent row only and are reused by every node
// at the same depth.
//
// Cells are clamped to bound + 1: every decision of the walk (prune a row
// whose least cell exceeds the bound, report a last cell within it) reads the
// same from the clamped table as from the exact one, so cells of 32 bits stay
// exact below the bound for any query length and any depth.
//
// Memory: a row is allocated the first time the walk reaches its depth, so a
// walk costs (deepest depth reached + 1) rows of (query length + 1) cells.
// A row whose cells all exceed the bound is pruned, and every cell of row d
// is at least d - query length, so no walk goes deeper than
// query length + bound, nor deeper than the trie's longest path; only a cycle
// in a damaged index reaches the first limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelnor {

class DistanceTable {
  public:
    // Row 0, the distances from the empty path, is filled at once.
    // Precondition: bound < 4294967295, so that bound + 1 is a cell value.
    DistanceTable(std::span<const char32_t> query, std::uint32_t bound);

    // Fills row depth + 1 for the path of row `depth` extended by `label` and
    // returns its least cell. Precondition: row `depth` has been filled.
    std::uint32_t extend(std::size_t depth, char32_t label);

    // The distance between the whole query and the path of row `depth`
    // (clamped to bound + 1). Precondition: row `depth` has been filled.
    std::uint32_t query_distance(std::size_t depth) const { return rows_[depth].back(); }

  private:
    std::span<const char32_t> query_;
    std::uint32_t ceiling_;
    std::vector<std::vector<std::uint32_t>> rows_;
};

}  // namespace kelnor
