#include "queries/walk/checked_walk.hpp"

#include <algorithm>
#include <vector>

#include "base/internal_failure.hpp"
#include "queries/walk/distance_table.hpp"
#include "queries/walk/walk_budget.hpp"

namespace kelnor {

void walk_checked(const Trie& trie, std::span<const char32_t> query, std::uint32_t bound,
                  EditMetric metric, std::optional<std::uint32_t> limit,
                  const InterruptCheck& interrupt, HitReporter report) {
    DistanceTable table(query, bound, metric);
    WalkBudget budget(trie, interrupt,
                      static_cast<std::uint32_t>(std::min<std::size_t>(
                          VISITS_BETWEEN_CHECKS, CELLS_BETWEEN_CHECKS / table.row_width())));
    std::vector<char32_t> path;
    std::vector<ChildRange> unvisited{child_range(trie, 0)};
    std::uint32_t recorded = 0;
    while (!unvisited.empty()) {
        ChildRange& siblings = unvisited.back();
        if (siblings.empty()) {
            unvisited.pop_back();
            if (!unvisited.empty()) path.pop_back();
            continue;
        }
        const std::size_t depth = unvisited.size() - 1;
        budget.visit();
        const std::uint32_t child = checked_at(trie.child_transitions, siblings.begin++);
        const char32_t label = checked_at(trie.child_labels, child);
        if (label == 0) continue;
        if (table.extend(depth, label) > bound) continue;
        const std::uint32_t distance = table.query_distance(depth + 1);
        if (distance <= bound && report(child, distance, std::span<const char32_t>(path), label) &&
            limit && ++recorded >= *limit) {
            return;
        }
        path.push_back(label);
        unvisited.push_back(child_range(trie, child));
    }
}

}  // namespace kelnor
