#include "queries/suggest.hpp"

#include <algorithm>

#include "base/internal_failure.hpp"
#include "index/text/label_text.hpp"
#include "index/trie/term_counts.hpp"
#include "queries/completion_search.hpp"
#include "queries/spelling_cost.hpp"
#include "queries/walk/trie_walk.hpp"
#include "queries/walk/walk_budget.hpp"
#include "queries/walk/walk_query.hpp"
#include "queries/word_start_completions.hpp"

namespace kelnor {
namespace {

// The terms within the bound, each with its count and spelling cost, then
// the best of them.
std::vector<Suggestion> nearest_terms(const Trie& trie, std::span<const char32_t> query,
                                      std::uint32_t max_dist, EditMetric metric,
                                      std::optional<std::uint32_t> limit,
                                      const InterruptCheck& interrupt) {
    std::vector<Suggestion> found;
    if (limit == 0u) return found;
    const TermCounts& counts = trie.term_counts;
    SpellingCost spelling(query, max_dist);
    WalkBudget spelled = spelling_budget(trie, query.size(), max_dist, interrupt);
    walk_within_distance(trie, query, max_dist, metric, std::nullopt, interrupt,
                         [&](std::uint32_t node, std::uint32_t distance,
                             std::span<const char32_t> path, char32_t label) {
                             if (!checked_at(trie.is_terminal, node)) return false;
                             spelled.spend(path.size() + 1);
                             found.push_back({hit_text(path, label), distance,
                                              counts.own(trie, node), spelling.of(path, label)});
                             return true;
                         });
    const auto kept = std::min<std::size_t>(found.size(), limit.value_or(found.size()));
    std::partial_sort(
        found.begin(), found.begin() + static_cast<std::ptrdiff_t>(kept), found.end(),
        [](const Suggestion& a, const Suggestion& b) { return ranks_before(a, b, false); });
    found.resize(kept);
    return found;
}

// The completions of the whole text from the start of a phrase and those
// from any of its words, each phrase once at its better rank. A phrase
// outside the best `limit` of either list cannot make the answer through it.
std::vector<Suggestion> completions_from_any_word(const Trie& trie, const WordStarts& starts,
                                                  std::string_view text_utf8,
                                                  const SuggestOptions& options, EditMetric metric,
                                                  const InterruptCheck& interrupt) {
    const std::uint32_t bound = std::min(options.max_dist, MAX_DISTANCE_BOUND);
    std::vector<Suggestion> found = word_start_completions(starts, decode_utf8(text_utf8), bound,
                                                           metric, options.limit, interrupt);
    if (const std::optional<std::vector<char32_t>> query =
            walk_query(trie, text_utf8, options.max_dist)) {
        const std::vector<Suggestion> from_start =
            completions(trie, *query, options.max_dist, metric, options.limit, interrupt);
        found.insert(found.end(), from_start.begin(), from_start.end());
    }
    const auto better = [](const Suggestion& a, const Suggestion& b) {
        return ranks_before(a, b, true);
    };
    std::sort(found.begin(), found.end(), [&](const Suggestion& a, const Suggestion& b) {
        return a.term != b.term ? a.term < b.term : better(a, b);
    });
    found.erase(
        std::unique(found.begin(), found.end(),
                    [](const Suggestion& a, const Suggestion& b) { return a.term == b.term; }),
        found.end());
    const auto kept = std::min<std::size_t>(found.size(), options.limit.value_or(found.size()));
    std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(kept), found.end(),
                      better);
    found.resize(kept);
    return found;
}

}  // namespace

std::uint32_t default_suggest_bound(std::string_view text_utf8) {
    const std::size_t length = decode_utf8(text_utf8, 8).size();
    return length < 4 ? 0 : length < 8 ? 1 : 2;
}

std::vector<Suggestion> suggest(const Trie& trie, std::string_view text_utf8,
                                const SuggestOptions& options, const InterruptCheck& interrupt,
                                const WordStarts* word_starts) {
    const EditMetric metric =
        options.transpositions ? EditMetric::optimal_string_alignment : EditMetric::levenshtein;
    if (word_starts != nullptr && options.complete) {
        return completions_from_any_word(trie, *word_starts, text_utf8, options, metric, interrupt);
    }
    const std::optional<std::vector<char32_t>> query =
        walk_query(trie, text_utf8, options.max_dist);
    if (!query) return {};
    return options.complete
               ? completions(trie, *query, options.max_dist, metric, options.limit, interrupt)
               : nearest_terms(trie, *query, options.max_dist, metric, options.limit, interrupt);
}

void show_spellings(const PrefixSearch& search, std::vector<Suggestion>& suggestions) {
    if (!search.folding || search.folding->empty()) return;
    for (Suggestion& suggestion : suggestions) {
        const auto spelling = search.folding->find(suggestion.term);
        if (spelling != search.folding->end()) suggestion.term = spelling->second;
    }
}

}  // namespace kelnor
