// The walk for any index: rows of a DistanceTable, every read of a trie array
// bounds-checked in the order of the depth-first walk, so that a damaged
// index fails on the first read it cannot make (see trie_walk.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/walk/edit_metric.hpp"
#include "queries/walk/hit_reporter.hpp"

namespace kelnor {

// A visit computes a row of up to 2 * bound + 1 cells: the host is asked
// whether to stop after about this many cells, or VISITS_BETWEEN_CHECKS
// visits where rows are narrow.
inline constexpr std::size_t CELLS_BETWEEN_CHECKS = std::size_t{1} << 18;

// The walk of walk_within_distance() for `bound` (at most 65535).
void walk_checked(const Trie& trie, std::span<const char32_t> query, std::uint32_t bound,
                  EditMetric metric, std::optional<std::uint32_t> limit,
                  const InterruptCheck& interrupt, HitReporter report);

}  // namespace kelnor
