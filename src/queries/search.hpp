// Search of a text of several words, as typed into a video search box: each
// word matched as fuzzy_match_video() matches a term, the videos ranked by
// how many words they answer and then by their summed scores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "base/result.hpp"
#include "index/trie/trie.hpp"
#include "queries/video_ranking.hpp"

namespace kelnor {

// The most words a search takes: each runs one walk and one tally, so the
// work of a search is at most this many times that of one term.
inline constexpr std::size_t MAX_SEARCH_WORDS = 32;

struct SearchOptions {
    // Every word's bound; nothing: default_search_bound() of each word.
    std::optional<std::uint32_t> max_dist;
    std::optional<std::uint32_t> limit;  // nothing: every video
    // Whether the last word, when the text ends inside it, also matches as
    // a prefix of longer terms (include_prefix_nodes); any other word is
    // matched as fuzzy_match_video() matches by default.
    bool complete = true;
    // Whether two adjacent characters swapped count as one edit.
    bool transpositions = true;
    double min_score = 0.0;
};

// The bound of a word when the caller gives none: exact below 3 characters,
// one edit from 3 to 7, two from 8 on. A word of a search is one filter among
// several, so from 3 characters it takes the one slip that suggest() keeps
// for words of 4 and more: on typed titles (bench/catalogue_bench.py) that
// brings the title searched for into the top ten far more often, at little
// cost, since the other words still decide the rank.
std::uint32_t default_search_bound(std::string_view word_utf8);

// A text of more than MAX_SEARCH_WORDS words, refused before any walk.
struct TooManyWords {
    std::size_t count;
};

// The videos for the words of `text_utf8` (search_words.hpp) in the order
// of rank_videos(); no words, no videos. A word longer than any indexed term
// plus its bound matches nothing. Raises InternalFailure on a damaged index
// and Interrupted when `interrupt` says stop.
Result<std::vector<VideoScore>, TooManyWords> search(const Trie& trie, std::string_view text_utf8,
                                                     const SearchOptions& options,
                                                     const InterruptCheck& interrupt = {});

}  // namespace kelnor
