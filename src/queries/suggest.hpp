// Suggestions for a search box: the indexed terms closest to what was typed,
// or the terms that complete it, ranked by closeness and then by count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/prefix_search.hpp"
#include "index/trie/trie.hpp"
#include "index/word_starts.hpp"

namespace kelnor {

struct Suggestion {
    std::string term;  // UTF-8 labels from the root (excluded) down to the term's node
    std::uint32_t distance;
    TermCount count;  // the term's own count (term_counts.hpp)
    // The spelling cost (spelling_cost.hpp) of the term, or for a completion
    // of its shortest prefix at `distance`, against the text.
    std::uint32_t cost = 0;

    friend bool operator==(const Suggestion&, const Suggestion&) = default;
};

// The order of suggestions: for whole terms, spelling cost ascending; for
// completions, distance ascending and then spelling cost ascending; then
// count descending, then term in code point order (which is the byte order
// of UTF-8).
inline bool ranks_before(const Suggestion& a, const Suggestion& b, bool complete) {
    if (complete && a.distance != b.distance) return a.distance < b.distance;
    if (a.cost != b.cost) return a.cost < b.cost;
    if (a.count != b.count) return a.count > b.count;
    return a.term < b.term;
}

struct SuggestOptions {
    std::uint32_t max_dist = 0;
    std::optional<std::uint32_t> limit;  // nothing: every suggestion
    // Whether a term counts when a prefix of it (itself included, and the
    // empty prefix) lies within the bound, at the least such distance, rather
    // than only when the whole term does.
    bool complete = true;
    // Whether two adjacent characters swapped count as one edit.
    bool transpositions = true;
};

// The bound to use when the caller gives none, by the length of what was
// typed, as a search box wants it: exact below 4 characters, one edit from 4
// to 7, two from 8 on (characters counted as decode_utf8() counts them).
std::uint32_t default_suggest_bound(std::string_view text_utf8);

// The best `options.limit` suggestions for `text_utf8` in the order of
// ranks_before(). With `word_starts` (the word starts of `trie`'s phrases)
// completions also come from any word of a phrase
// (word_start_completions.hpp), each phrase once, at the nearer and then
// cheaper of its two ways. Raises InternalFailure on a damaged index and
// Interrupted when `interrupt` says stop.
std::vector<Suggestion> suggest(const Trie& trie, std::string_view text_utf8,
                                const SuggestOptions& options, const InterruptCheck& interrupt = {},
                                const WordStarts* word_starts = nullptr);

// Puts the spelling of `search`'s folding in place of each suggestion's
// folded term that has one; the order stays that of the folded terms.
void show_spellings(const PrefixSearch& search, std::vector<Suggestion>& suggestions);

}  // namespace kelnor
