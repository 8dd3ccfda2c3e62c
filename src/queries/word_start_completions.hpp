// The completions of what was typed from any word of a phrase.
//
// The text is split into words (index/text/search_words.hpp). A phrase completes it from its
// word w when the last typed word lies within its bound of a prefix of w
// (the completion search over the index's trie of words), and the typed
// words before it match whole words of the phrase before w, in the typed
// order, each within its own bound. A typed word's bound is the least of
// the query's and the automatic bound of its own length
// (default_suggest_bound()). The phrase's distance is the sum of its words'
// distances, and it counts only when that sum is within the query's bound;
// its spelling cost is the sum of their costs (for the last word, that of
// its nearest prefix). Of the ways a phrase completes the text, the nearest,
// then cheapest, counts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/word_starts.hpp"
#include "queries/suggest.hpp"
#include "queries/walk/edit_metric.hpp"

namespace kelnor {

// The best `limit` phrases (nothing: all) completing `text` from a word
// within `bound` edits in `metric`, each once, in the order of
// ranks_before() for completions. Raises Interrupted when `interrupt` says
// stop.
std::vector<Suggestion> word_start_completions(const WordStarts& starts,
                                               std::span<const char32_t> text, std::uint32_t bound,
                                               EditMetric metric,
                                               std::optional<std::uint32_t> limit,
                                               const InterruptCheck& interrupt);

}  // namespace kelnor
