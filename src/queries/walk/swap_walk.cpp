#include "queries/walk/swap_walk.hpp"

#include "queries/walk/bit_parallel_walk.hpp"

namespace kelnor {

void walk_bit_parallel_with_swaps(const Trie& trie, const QueryMasks& query, std::uint32_t bound,
                                  std::optional<std::uint32_t> limit,
                                  const InterruptCheck& interrupt, HitReporter report) {
    walk_bit_parallel_within<EditMetric::optimal_string_alignment, 1>(trie, query, bound, limit,
                                                                      interrupt, report);
}

}  // namespace kelnor
