// A video's standing over the words of a ranking, kept in one score table
// for all the words: each slot holds the words folded in so far and the sum
// of the word being tallied, which folds in when the next word first reaches
// the video, or at the end. One lookup an entry, and no table per word.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

namespace kelnor {

// An entry of word `word`'s tally: `amount` added to the video's sum for it.
// `weight_totals` holds each word's weighted total, final for every word
// before `word` (a word's tally ends before the next one starts).
struct WordAmount {
    std::uint32_t word;
    double amount;
    std::span<const double> weight_totals;
};

struct Standing {
    static constexpr std::uint32_t NO_WORD = std::numeric_limits<std::uint32_t>::max();

    double score = 0.0;    // the scores of the words folded in, added in word order
    double pending = 0.0;  // the sum of word `pending_word` so far
    std::uint32_t words = 0;
    std::uint32_t pending_word = NO_WORD;

    Standing& operator+=(const WordAmount& entry) {
        if (entry.word != pending_word) {
            fold(entry.weight_totals);
            pending_word = entry.word;
        }
        pending += entry.amount;
        return *this;
    }

    // Adds the pending word's score, its sum over its weighted total, as the
    // word's own ranking scores the video; a word whose total is not above 0
    // answers no video.
    void fold(std::span<const double> weight_totals) {
        if (pending_word != NO_WORD && weight_totals[pending_word] > 0.0) {
            ++words;
            score += pending / weight_totals[pending_word];
        }
        pending_word = NO_WORD;
        pending = 0.0;
    }
};

}  // namespace kelnor
