// What an index of phrases keeps so that a phrase is found from any of its
// words: the words of its phrases as a trie of their own, and for each word
// the phrases it occurs in.
//
// It is derived from the phrase trie alone (word_starts_of(), builds/), so
// an index image needs nothing beyond the phrases to restore it, and the
// phrase trie, its image and its fuzzy_match answers stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/trie/trie.hpp"

namespace kelnor {

// A word of a phrase: the phrase's number and the word's place in it (0 the
// first word).
struct WordPosting {
    std::uint32_t phrase;
    std::uint32_t ordinal;
};

struct WordStarts {
    // Every distinct word of the phrases as a term (without videos), so that
    // the suggestions' completion search runs over it as over any index.
    Trie words;
    // The postings of the word that ends at node n of `words` are
    // postings[posting_starts[n], posting_starts[n + 1]), by phrase number.
    std::vector<std::size_t> posting_starts;
    std::vector<WordPosting> postings;
    // Phrases are numbered in the order suggestions rank equals: own count
    // descending, then text in code point order. Phrase p is
    // phrase_texts[phrase_ends[p - 1], phrase_ends[p]) in UTF-8.
    std::string phrase_texts;
    std::vector<std::size_t> phrase_ends;
    std::vector<TermCount> phrase_counts;
    // The most words of a phrase: more typed words complete none.
    std::size_t most_words = 0;
    // Whether each word's own count in `words` is the count of its best
    // phrase (its first), which the completion search can then stop at.
    bool best_counts_exact = false;

    std::size_t phrase_count() const noexcept { return phrase_ends.size(); }
    std::string_view phrase_text(std::size_t phrase) const noexcept {
        const std::size_t begin = phrase == 0 ? 0 : phrase_ends[phrase - 1];
        return std::string_view(phrase_texts).substr(begin, phrase_ends[phrase] - begin);
    }
};

}  // namespace kelnor
