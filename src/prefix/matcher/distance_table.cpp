#include "prefix/matcher/distance_table.hpp"

#include <algorithm>

namespace kelnor {

DistanceTable::DistanceTable(std::span<const char32_t> query, std::uint32_t bound)
    : query_(query), ceiling_(bound + 1) {
    std::vector<std::uint32_t>& first = rows_.emplace_back(query.size() + 1);
    for (std::size_t j = 0; j < first.size(); ++j) {
        first[j] = static_cast<std::uint32_t>(std::min<std::size_t>(j, ceiling_));
    }
}

std::uint32_t DistanceTable::extend(std::size_t depth, char32_t label) {
    if (rows_.size() == depth + 1) rows_.emplace_back(query_.size() + 1);
    const std::uint32_t* parent = rows_[depth].data();
    std::uint32_t* row = rows_[depth + 1].data();
    const std::size_t n = query_.size();
    const std::uint32_t ceiling = ceiling_;

    std::uint32_t left = static_cast<std::uint32_t>(std::min<std::size_t>(depth + 1, ceiling));
    std::uint32_t least = left;
    row[0] = left;
    for (std::size_t j = 1; j <= n; ++j) {
        const std::uint32_t substitute = parent[j - 1] + (query_[j - 1] == label ? 0 : 1);
        const std::uint32_t cell = std::min({parent[j] + 1, left + 1, substitute, ceiling});
        row[j] = cell;
        left = cell;
        least = std::min(least, cell);
    }
    return least;
}

}  // namespace kelnor
