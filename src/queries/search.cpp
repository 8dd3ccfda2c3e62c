#include "queries/search.hpp"

#include "index/text/label_text.hpp"
#include "index/text/search_words.hpp"
#include "queries/suggest.hpp"
#include "queries/walk/walk_query.hpp"

namespace kelnor {

std::uint32_t default_search_bound(std::string_view word_utf8) {
    const std::size_t length = decode_utf8(word_utf8, 8).size();
    return length < 3 ? 0 : length < 8 ? 1 : 2;
}

Result<std::vector<VideoScore>, TooManyWords> search(const Trie& trie, std::string_view text_utf8,
                                                     const SearchOptions& options,
                                                     const InterruptCheck& interrupt) {
    const SearchWords found = search_words(text_utf8, MAX_SEARCH_WORDS);
    if (found.count > MAX_SEARCH_WORDS) return TooManyWords{found.count};
    const EditMetric metric =
        options.transpositions ? EditMetric::optimal_string_alignment : EditMetric::levenshtein;
    // The characters stay here while the ranking reads them through spans.
    std::vector<std::vector<char32_t>> queries;
    queries.reserve(found.words.size());
    std::vector<RankedWord> words;
    words.reserve(found.words.size());
    for (std::size_t i = 0; i < found.words.size(); ++i) {
        const std::string_view word = found.words[i];
        const std::uint32_t max_dist = options.max_dist.value_or(default_search_bound(word));
        std::optional<std::vector<char32_t>> query = walk_query(trie, word, max_dist);
        if (!query) continue;
        const bool typing = options.complete && found.last_open && i + 1 == found.words.size();
        queries.push_back(std::move(*query));
        words.push_back(
            {queries.back(), max_dist, metric, typing ? std::optional<bool>(true) : std::nullopt});
    }
    if (words.empty()) return std::vector<VideoScore>{};
    return rank_videos(trie, words, options.limit, options.min_score, interrupt);
}

}  // namespace kelnor
