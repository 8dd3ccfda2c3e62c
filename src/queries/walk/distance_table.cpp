#include "queries/walk/distance_table.hpp"

#include <algorithm>

namespace kelnor {

DistanceTable::DistanceTable(std::span<const char32_t> query, std::uint32_t bound,
                             EditMetric metric)
    : query_(query),
      bound_(bound),
      ceiling_(bound + 1),
      width_(std::min(2 * std::size_t{bound} + 1, query.size() + 1)),
      metric_(metric),
      labels_{0} {
    std::vector<std::uint32_t>& first = rows_.emplace_back(width_);
    for (std::size_t j = 0; j <= band_last(0); ++j) first[j] = static_cast<std::uint32_t>(j);
}

std::size_t DistanceTable::band_last(std::size_t depth) const noexcept {
    return std::min(query_.size(), depth + bound_);
}

std::uint32_t DistanceTable::extend(std::size_t depth, char32_t label) {
    const std::size_t child = depth + 1;
    if (rows_.size() == child) {
        rows_.emplace_back(width_);
        labels_.push_back(0);
    }
    labels_[child] = label;
    // A path of one label has no pair to swap.
    if (metric_ == EditMetric::optimal_string_alignment && child >= 2) {
        return fill<true>(child, label);
    }
    return fill<false>(child, label);
}

template <bool Swaps>
std::uint32_t DistanceTable::fill(std::size_t child, char32_t label) {
    const std::size_t depth = child - 1;
    const std::size_t first = band_first(child);
    const std::size_t last = band_last(child);
    const std::uint32_t ceiling = ceiling_;
    if (first > last) return ceiling;
    std::uint32_t* row = rows_[child].data();  // row[j - first]: the prefix of j
    const std::size_t parent_first = band_first(depth);
    const std::size_t parent_last = band_last(depth);

    // A swap of the path's last two labels with query characters j - 2 and
    // j - 1 (0-based) costs one edit from the grandparent's cell j - 2.
    const std::uint32_t* two_up = nullptr;  // two_up[j - two_up_first]: the grandparent's cell j
    std::size_t two_up_first = 0;
    char32_t previous = 0;  // the parent's label
    if constexpr (Swaps) {
        two_up = rows_[child - 2].data();
        two_up_first = band_first(child - 2);
        previous = labels_[depth];
    }
    const auto with_swap = [&](std::size_t j, std::uint32_t cell) {
        if constexpr (Swaps) {
            if (j >= 2 && query_[j - 2] == label && query_[j - 1] == previous) {
                return std::min(cell, two_up[j - 2 - two_up_first] + 1);
            }
        }
        return cell;
    };

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
        const std::uint32_t cell =
            with_swap(j, std::min({above[1] + 1, left + 1, substitute, ceiling}));
        row[j - first] = cell;
        left = cell;
        least = std::min(least, cell);
    }
    // The band's last cell, where the parent's band ends: it lies bound
    // cells off the diagonal, as the grandparent's cell that a swap would
    // read, which is then at least bound and the swap at least the ceiling.
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
