#include "queries/spelling_cost.hpp"

#include <algorithm>
#include <limits>

#include "queries/path_links.hpp"

namespace kelnor {
namespace {

constexpr std::uint32_t UNREACHED = std::numeric_limits<std::uint32_t>::max() / 2;

// Whether the character at `k` is next to the same character.
bool doubles(std::span<const char32_t> text, std::size_t k) {
    return (k > 0 && text[k - 1] == text[k]) || (k + 1 < text.size() && text[k + 1] == text[k]);
}

char32_t folded(char32_t c) {
    return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c;
}

bool is_silent_after_first(char32_t c) {
    switch (c) {
        case U'a':
        case U'e':
        case U'i':
        case U'o':
        case U'u':
        case U'y':
        case U'h':
        case U'w':
            return true;
        default:
            return false;
    }
}

// No sound: what no character is, so that a NUL typed is a sound of its own
// like any other character.
constexpr char32_t NO_SOUND = 0xFFFFFFFF;

// The sounds of `word` from `at` on, read as the key reads them: how many
// characters they take and up to two sounds (NO_SOUND for none).
struct Sounds {
    std::size_t length;
    char32_t first;
    char32_t second;
};

Sounds sounds_at(std::span<const char32_t> word, std::size_t at) {
    const char32_t c = folded(word[at]);
    const char32_t next = at + 1 < word.size() ? folded(word[at + 1]) : 0;
    switch (c) {
        case U'p':
            if (next == U'h') return {2, U'f', NO_SOUND};
            break;
        case U'c':
            if (next == U'k') return {2, U'k', NO_SOUND};
            return {1, next == U'e' || next == U'i' || next == U'y' ? U's' : U'k', NO_SOUND};
        case U'g':
            if (next == U'h') return {2, NO_SOUND, NO_SOUND};
            break;
        case U'k':
            if (next == U'n') return {2, U'n', NO_SOUND};
            break;
        case U'w':
            if (next == U'r') return {2, U'r', NO_SOUND};
            break;
        case U'd':
            if (next == U'g') return {2, U'j', NO_SOUND};
            break;
        case U'q':
            return {1, U'k', NO_SOUND};
        case U'x':
            return {1, U'k', U's'};
        case U'z':
            return {1, U's', NO_SOUND};
        default:
            break;
    }
    return {1, c, NO_SOUND};
}

}  // namespace

void phonetic_key(std::span<const char32_t> word, std::vector<char32_t>& key) {
    key.clear();
    const auto add = [&key](char32_t sound) {
        if (sound == NO_SOUND) return;
        if (!key.empty() && (is_silent_after_first(sound) || key.back() == sound)) return;
        key.push_back(sound);
    };
    for (std::size_t at = 0; at < word.size();) {
        const Sounds sounds = sounds_at(word, at);
        add(sounds.first);
        add(sounds.second);
        at += sounds.length;
    }
}

SpellingCost::SpellingCost(std::span<const char32_t> typed, std::uint32_t max_edits)
    : typed_(typed.begin(), typed.end()),
      // An alignment |i - j| cells off the diagonal has at least |i - j|
      // insertions or deletions, each costing at least DOUBLED_LETTER_COST,
      // while the plain alignment costs at most SUBSTITUTION_COST an edit.
      band_(static_cast<std::uint32_t>(std::min<std::uint64_t>(
          std::uint64_t{max_edits} * SUBSTITUTION_COST / DOUBLED_LETTER_COST,
          std::numeric_limits<std::uint32_t>::max() / 2))) {
    phonetic_key(typed_, typed_key_);
    for (std::size_t j = 0; j < typed_.size(); ++j) {
        typed_extra_.push_back(doubles(typed_, j) ? DOUBLED_LETTER_COST : EXTRA_LETTER_COST);
    }
}

std::uint32_t SpellingCost::of(std::span<const char32_t> path, char32_t last) {
    word_.assign(path.begin(), path.end());
    if (last != NO_LABEL) word_.push_back(last);
    phonetic_key(word_, word_key_);
    std::uint32_t cost = weighted_distance();
    const bool same_first =
        typed_.empty() ? word_.empty() : !word_.empty() && folded(word_[0]) == folded(typed_[0]);
    if (!same_first) cost += OTHER_FIRST_LETTER_COST;
    if (word_key_ != typed_key_) cost += OTHER_SOUND_COST;
    return cost;
}

// The classic table of the optimal string alignment distance, rows by the
// word's characters and columns by the typed ones, with the weights above.
std::uint32_t SpellingCost::weighted_distance() const {
    const std::size_t n = typed_.size();
    const std::size_t m = word_.size();
    const std::size_t width = n + 1;
    rows_.assign(3 * width, UNREACHED);
    std::uint32_t* row = rows_.data();
    row[0] = 0;
    for (std::size_t j = 1; j <= std::min<std::size_t>(n, band_); ++j) {
        row[j] = row[j - 1] + typed_extra_[j - 1];
    }
    for (std::size_t i = 1; i <= m; ++i) {
        const std::uint32_t* above = rows_.data() + ((i - 1) % 3) * width;
        const std::uint32_t* two_above = rows_.data() + ((i + 1) % 3) * width;
        row = rows_.data() + (i % 3) * width;
        const std::size_t low = i > band_ ? i - band_ : 0;
        const std::size_t high = std::min<std::size_t>(n, i + band_);
        if (low > n) return UNREACHED;
        std::fill(row, row + width, UNREACHED);
        // The typed text lacking the word's character i - 1.
        const std::uint32_t missing =
            doubles(word_, i - 1) ? DOUBLED_LETTER_COST : MISSING_LETTER_COST;
        for (std::size_t j = low; j <= high; ++j) {
            std::uint32_t best = above[j] + missing;
            if (j > 0) {
                // The typed text having its character j - 1 too many.
                best = std::min(best, row[j - 1] + typed_extra_[j - 1]);
                const bool same = word_[i - 1] == typed_[j - 1];
                best = std::min(best, above[j - 1] + (same ? 0 : SUBSTITUTION_COST));
                if (!same && i > 1 && j > 1 && word_[i - 1] == typed_[j - 2] &&
                    word_[i - 2] == typed_[j - 1]) {
                    best = std::min(best, two_above[j - 2] + SWAP_COST);
                }
            }
            row[j] = std::min(best, UNREACHED);
        }
    }
    return row[n];
}

}  // namespace kelnor
