// The fast walk with swaps (EditMetric::optimal_string_alignment), compiled
// in a file of its own beside trie_walk.cpp, which compiles the Levenshtein
// copies: each file holds one copy of the walk per bound and instruction
// set, and a parallel build compiles the two side by side.
#pragma once

#include <cstdint>
#include <optional>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/walk/hit_reporter.hpp"
#include "queries/walk/query_masks.hpp"

namespace kelnor {

// walk_within_distance() with swaps on a sound trie. Precondition: 1 <=
// bound <= MAX_BIT_PARALLEL_BOUND (at bound 0 the metrics agree).
void walk_bit_parallel_with_swaps(const Trie& trie, const QueryMasks& query, std::uint32_t bound,
                                  std::optional<std::uint32_t> limit,
                                  const InterruptCheck& interrupt, HitReporter report);

}  // namespace kelnor
