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

// Calls `sound` with each sound of the phonetic key of `word` in turn, while
// it returns true; returns whether it did so to the end.
template <class Sound>
bool each_key_sound(std::span<const char32_t> word, Sound&& sound) {
    bool any = false;
    char32_t last = NO_SOUND;
    const auto add = [&](char32_t next) {
        if (next == NO_SOUND) return true;
        if (any && (is_silent_after_first(next) || last == next)) return true;
        any = true;
        last = next;
        return sound(next);
    };
    for (std::size_t at = 0; at < word.size();) {
        const Sounds sounds = sounds_at(word, at);
        if (!add(sounds.first) || !add(sounds.second)) return false;
        at += sounds.length;
    }
    return true;
}

}  // namespace

void phonetic_key(std::span<const char32_t> word, std::vector<char32_t>& key) {
    key.clear();
    each_key_sound(word, [&key](char32_t sound) {
        key.push_back(sound);
        return true;
    });
}

SpellingCost::SpellingCost(std::span<const char32_t> typed, std::uint32_t max_edits)
    : typed_(typed.begin(), typed.end()),
      // An alignment |i - j| cells off the diagonal has at least |i - j|
      // insertions or deletions, each costing at least DOUBLED_LETTER_COST,
      // while the plain alignment costs at most SUBSTITUTION_COST an edit.
      band_(static_cast<std::uint32_t>(std::min<std::uint64_t>(
          std::uint64_t{max_edits} * SUBSTITUTION_COST / DOUBLED_LETTER_COST,
          std::numeric_limits<std::uint32_t>::max() / 2))) {
    // A character gives at most two sounds ("x"). A costed word is at most
    // max_edits longer than the typed text: room for 4 more serves the usual
    // bounds, and a longer word under a larger bound grows it.
    typed_key_.reserve(2 * typed_.size());
    phonetic_key(typed_, typed_key_);
    typed_extra_.reserve(typed_.size());
    word_.reserve(typed_.size() + std::min<std::size_t>(max_edits, 4) + 1);
    for (std::size_t j = 0; j < typed_.size(); ++j) {
        typed_extra_.push_back(doubles(typed_, j) ? DOUBLED_LETTER_COST : EXTRA_LETTER_COST);
    }
}

std::uint32_t SpellingCost::of(std::span<const char32_t> path, char32_t last) {
    const std::size_t length = path.size() + (last != NO_LABEL ? 1 : 0);
    const auto character = [&](std::size_t k) { return k < path.size() ? path[k] : last; };
    std::size_t shared = 0;
    while (shared < std::min(length, word_.size()) && word_[shared] == character(shared)) ++shared;
    // Row i of the table reads the word's characters up to i (the one after
    // its own, to tell a doubled letter): the rows before the first character
    // that differs from the last word's hold as they are.
    const bool same_word = shared == length && length == word_.size();
    rows_valid_ = std::min(rows_valid_, same_word ? length + 1 : std::max<std::size_t>(shared, 1));
    word_.resize(shared);
    for (std::size_t k = shared; k < length; ++k) word_.push_back(character(k));
    std::uint32_t cost = weighted_distance();
    const bool same_first =
        typed_.empty() ? word_.empty() : !word_.empty() && folded(word_[0]) == folded(typed_[0]);
    if (!same_first) cost += OTHER_FIRST_LETTER_COST;
    if (!sounds_like_typed()) cost += OTHER_SOUND_COST;
    return cost;
}

bool SpellingCost::sounds_like_typed() const {
    std::size_t matched = 0;
    return each_key_sound(word_,
                          [&](char32_t sound) {
                              return matched < typed_key_.size() && typed_key_[matched++] == sound;
                          }) &&
           matched == typed_key_.size();
}

// The classic table of the optimal string alignment distance, rows by the
// word's characters and columns by the typed ones, with the weights above.
// Only the band of each row is filled, with one unreached cell on either
// side, which is all that the next two rows read outside it.
std::uint32_t SpellingCost::weighted_distance() {
    const std::size_t n = typed_.size();
    const std::size_t m = word_.size();
    const std::size_t width = n + 1;
    // Rows up to kept_rows stay for the next word; deeper ones take three
    // rows in turn, so that a long word costs no more memory than a few rows.
    const std::size_t kept_rows = std::max<std::size_t>(KEPT_CELLS / width, 1);
    const auto row_at = [&](std::size_t i) {
        const std::size_t slot = i < kept_rows ? i : kept_rows + (i - kept_rows) % 3;
        return rows_.data() + slot * width;
    };
    const std::size_t cells = (std::min(m + 1, kept_rows) + 3) * width;
    if (rows_.size() < cells) rows_.resize(cells);
    const auto low_of = [&](std::size_t i) { return i > band_ ? i - band_ : 0; };
    const auto high_of = [&](std::size_t i) { return std::min<std::size_t>(n, i + band_); };
    if (rows_valid_ == 0) {
        std::uint32_t* row = row_at(0);
        row[0] = 0;
        for (std::size_t j = 1; j <= high_of(0); ++j) row[j] = row[j - 1] + typed_extra_[j - 1];
        if (high_of(0) < n) row[high_of(0) + 1] = UNREACHED;
        rows_valid_ = 1;
    }
    for (std::size_t i = std::min(rows_valid_, kept_rows); i <= m; ++i) {
        const std::uint32_t* above = row_at(i - 1);
        const std::uint32_t* two_above = i > 1 ? row_at(i - 2) : nullptr;
        std::uint32_t* row = row_at(i);
        const std::size_t low = low_of(i);
        const std::size_t high = high_of(i);
        if (low > n) {
            rows_valid_ = std::min(i, kept_rows);
            return UNREACHED;
        }
        if (low > 0) row[low - 1] = UNREACHED;
        if (high < n) row[high + 1] = UNREACHED;
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
    rows_valid_ = std::min(m + 1, kept_rows);
    return high_of(m) < n ? UNREACHED : row_at(m)[n];
}

}  // namespace kelnor
