// How likely a slip of the keyboard or of the ear turns a word into what was
// typed: the key by which suggestions within the bound are ordered before
// their counts.
//
// The cost is a weighted edit distance, in quarters of an edit, between the
// typed text and the word, plus two penalties:
//
// - a letter of the word missing from the typed text costs 3 ("enviroment"),
//   a typed letter that the word lacks costs 4: people leave letters out
//   more often than they add them; either costs 2 when the letter doubles or
//   undoubles a neighbour ("adress" for "address", "untill" for "until"):
//   people misjudge doubled letters far more often than other letters;
// - a substitution costs 4; two neighbours swapped ("teh") cost 3, a little
//   less than any other edit, as swaps are the commonest slip of the fingers
//   (a swap is never combined with another edit of the same letters);
// - a word that does not begin with the typed first letter costs 2 more:
//   people rarely get the first letter wrong;
// - a word whose phonetic key (below) differs from the typed text's costs 1
//   more: a misspelling often sounds like the word meant ("definately").
//
// The phonetic key is a rough English consonant skeleton: letters folded to
// lower case, "ph" read as f, "ck" and "q" as k, "gh" silent, "kn" as n,
// "wr" as r, "dg" as j, "x" as ks, "c" as s before e, i or y and k
// elsewhere, "z" as s; then the first sound is kept and every later vowel,
// y, h and w dropped, and a sound repeated next to itself kept once.
// Characters other than ASCII letters are kept as they are.
//
// The weights were chosen by measurement on a list of real misspellings and
// hold on another (bench/spelling_bench.py, bench/RESULTS.md).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelnor {

inline constexpr std::uint32_t MISSING_LETTER_COST = 3;
inline constexpr std::uint32_t EXTRA_LETTER_COST = 4;
inline constexpr std::uint32_t DOUBLED_LETTER_COST = 2;
inline constexpr std::uint32_t SUBSTITUTION_COST = 4;
inline constexpr std::uint32_t SWAP_COST = 3;
inline constexpr std::uint32_t OTHER_FIRST_LETTER_COST = 2;
inline constexpr std::uint32_t OTHER_SOUND_COST = 1;

// The phonetic key of `word` (see above), in `key`, which it replaces.
void phonetic_key(std::span<const char32_t> word, std::vector<char32_t>& key);

// The spelling cost of words against one typed text. Keeps its buffers from
// one word to the next, so that costing the candidates of a query allocates
// only while the longest of them grows them, and the rows of its table, so
// that a word which starts as the last one did is costed from the first row
// that a different character reaches (a walk's words share long starts).
class SpellingCost {
  public:
    // `max_edits` is the most plain edits a costed word is from `typed` (the
    // query's bound): no alignment that strays further from the diagonal can
    // be the cheapest, so only that band of the table is filled.
    SpellingCost(std::span<const char32_t> typed, std::uint32_t max_edits);

    // The cost of the word spelled by `path` then `last` (NO_LABEL: `path`
    // alone).
    std::uint32_t of(std::span<const char32_t> path, char32_t last);

  private:
    std::uint32_t weighted_distance();
    // Whether word_'s phonetic key is the typed text's, told without
    // spelling it out.
    bool sounds_like_typed() const;

    std::vector<char32_t> typed_;
    std::vector<char32_t> typed_key_;
    std::vector<std::uint32_t> typed_extra_;  // the cost of each typed character too many
    std::uint32_t band_;
    std::vector<char32_t> word_;
    // The table's rows, the first rows_valid_ of them as word_ left them:
    // rows below KEPT_CELLS / (typed length + 1) each have a slot of their
    // own, deeper ones take the three after those in turn.
    static constexpr std::size_t KEPT_CELLS = 1 << 14;
    std::vector<std::uint32_t> rows_;
    std::size_t rows_valid_ = 0;
};

}  // namespace kelnor
