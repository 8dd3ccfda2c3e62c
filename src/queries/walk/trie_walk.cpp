#include "queries/walk/trie_walk.hpp"

#include <algorithm>

#include "queries/walk/bit_parallel_walk.hpp"
#include "queries/walk/checked_walk.hpp"
#include "queries/walk/query_masks.hpp"
#include "queries/walk/swap_walk.hpp"

namespace kelnor {

void walk_within_distance(const Trie& trie, std::span<const char32_t> query, std::uint32_t max_dist,
                          EditMetric metric, std::optional<std::uint32_t> limit,
                          const InterruptCheck& interrupt, HitReporter report) {
    if (limit == 0u || trie.node_shifts.empty()) return;
    const std::uint32_t bound = std::min(max_dist, MAX_DISTANCE_BOUND);
    // No path comes within the bound of a longer query (see walk_query.hpp).
    const std::optional<std::uint32_t> deepest = trie.walk_index.deepest;
    if (deepest && query.size() > std::uint64_t{*deepest} + bound) return;
    // Within no edit, both metrics mean exact spelling: the Levenshtein walk
    // answers, and no walk with swaps is compiled for bound 0.
    if (bound == 0) metric = EditMetric::levenshtein;
    if (trie.walk_index.sound && query.size() <= QueryMasks::MAX_LENGTH &&
        bound <= MAX_BIT_PARALLEL_BOUND) {
        const QueryMasks masks(query);
        if (metric == EditMetric::optimal_string_alignment) {
            walk_bit_parallel_with_swaps(trie, masks, bound, limit, interrupt, report);
        } else {
            walk_bit_parallel_within<EditMetric::levenshtein, 0>(trie, masks, bound, limit,
                                                                 interrupt, report);
        }
        return;
    }
    walk_checked(trie, query, bound, metric, limit, interrupt, report);
}

}  // namespace kelnor
