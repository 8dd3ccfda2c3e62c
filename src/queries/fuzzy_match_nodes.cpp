#include "queries/fuzzy_match_nodes.hpp"

#include "base/internal_failure.hpp"
#include "queries/walk/trie_walk.hpp"

namespace kelnor {

std::vector<NodeHit> fuzzy_match_nodes(const Trie& trie, std::span<const char32_t> query,
                                       std::uint32_t max_dist, EditMetric metric,
                                       bool terminal_only, std::optional<std::uint32_t> limit,
                                       const InterruptCheck& interrupt) {
    std::vector<NodeHit> hits;
    walk_within_distance(
        trie, query, max_dist, metric, limit, interrupt,
        [&](std::uint32_t node, std::uint32_t distance, std::span<const char32_t>, char32_t) {
            if (terminal_only && !checked_at(trie.is_terminal, node)) return false;
            hits.push_back({node, distance});
            return true;
        });
    return hits;
}

std::vector<NodeHit> fuzzy_match_nodes_terminal_first(const Trie& trie,
                                                      std::span<const char32_t> query,
                                                      std::uint32_t max_dist, EditMetric metric,
                                                      const InterruptCheck& interrupt) {
    std::vector<NodeHit> hits;
    std::vector<NodeHit> terminal;
    bool terminal_counts = false;
    walk_within_distance(
        trie, query, max_dist, metric, std::nullopt, interrupt,
        [&](std::uint32_t node, std::uint32_t distance, std::span<const char32_t>, char32_t) {
            // Checked for every node in walk order, as the terminal_only walk does.
            if (checked_at(trie.is_terminal, node)) {
                terminal.push_back({node, distance});
                terminal_counts = terminal_counts || whole_term_hit_counts(distance, query.size());
            }
            if (!terminal_counts) hits.push_back({node, distance});
            return true;
        });
    return terminal_counts ? terminal : hits;
}

}  // namespace kelnor
