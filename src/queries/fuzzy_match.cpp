#include "queries/fuzzy_match.hpp"

#include "base/internal_failure.hpp"
#include "index/text/label_text.hpp"
#include "queries/walk/trie_walk.hpp"
#include "queries/walk/walk_budget.hpp"
#include "queries/walk/walk_query.hpp"

namespace kelnor {

std::vector<MatchResult> fuzzy_match(const Trie& trie, std::string_view term_utf8,
                                     std::uint32_t max_dist, std::optional<std::uint32_t> limit,
                                     const InterruptCheck& interrupt) {
    const std::optional<std::vector<char32_t>> query = walk_query(trie, term_utf8, max_dist);
    if (!query) return {};
    std::vector<MatchResult> results;
    WalkBudget spelled = spelling_budget(trie, query->size(), max_dist, interrupt);
    walk_within_distance(trie, *query, max_dist, EditMetric::levenshtein, limit, interrupt,
                         [&](std::uint32_t node, std::uint32_t distance,
                             std::span<const char32_t> path, char32_t label) {
                             if (!checked_at(trie.is_terminal, node)) return false;
                             spelled.spend(path.size() + 1);
                             results.push_back({hit_text(path, label), node, distance});
                             return true;
                         });
    return results;
}

}  // namespace kelnor
