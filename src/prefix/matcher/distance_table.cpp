#include "prefix/matcher/distance_table.hpp"

#include <algorithm>

namespace kelnor {

DistanceTable::DistanceTable(std::span<const char32_t> query, std::uint32_t bound)
    : query_(query),
      bound_(bound),
      ceiling_(bound + 1),
      width_(std::min(2 * std::size_t{bound} + 1, query.size() + 1)) {
    std::vector<std::uint32_t>& first = rows_.emplace_back(width_);
    for (std::size_t j = 0; j <= band_last(0); ++j) first[j] = static_cast<std::uint32_t>(j);
}

std::size_t DistanceTable::band_last(std::size_t depth) const noexcept {
    return std::min(query_.size(), depth + bound_);
}

std::uint32_t DistanceTable::extend(std::size_t depth, char32_t label) {
    const std::size_t child = depth + 1;
    if (rows_.size() == child) rows_.emplace_back(width_);
    const std::size_t first = band_first(child);
    const std::size_t last = band_last(child);
    const std::uint32_t ceiling = ceiling_;
    if (first > last) return ceiling;
    std::uint32_t* row = rows_[child].data();  // row[j - first]: the prefix of j
    const std::size_t parent_first = band_first(depth);
    const std::size_t parent_last = band_last(depth);

    std::size_t j = first;
    std::uint32_t left = ceiling;  // the cell before j in this row
    if (j == 0) {
        left = static_cast<std::uint32_t>(std::min<std::size_t>(child, ceiling));
        row[0] = left;
        j = 1;
    }
    std::uint32_t least = left;
    // The parent's cells j - 1 and j; the band moves one cell on per row, so
    // j - 1 is always in the parent's band and j is but for the last cell.
    const std::uint32_t* above = rows_[depth].data() + (j - 1 - parent_first);
    const std::size_t both_above = std::min(last, parent_last);
    for (; j <= both_above; ++j, ++above) {
        const std::uint32_t substitute = above[0] + (query_[j - 1] == label ? 0 : 1);
        const std::uint32_t cell = std::min({above[1] + 1, left + 1, substitute, ceiling});
        row[j - first] = cell;
        left = cell;
        least = std::min(least, cell);
    }
    if (j <= last) {
        const std::uint32_t substitute = above[0] + (query_[j - 1] == label ? 0 : 1);
        const std::uint32_t cell = std::min({left + 1, substitute, ceiling});
        row[j - first] = cell;
        least = std::min(least, cell);
    }
    return least;
}

std::uint32_t DistanceTable::query_distance(std::size_t depth) const {
    const std::size_t length = query_.size();
    const std::size_t first = band_first(depth);
    if (length < first || length > band_last(depth)) return ceiling_;
    return rows_[depth][length - first];
}

}  // namespace kelnor
