// The spelling cost, which keeps the rows of one word's table for the next
// word that starts the same, against the whole banded table of each word
// alone, on words that go on from each other's starts as a walk's do.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "check.hpp"
#include "queries/path_links.hpp"
#include "queries/spelling_cost.hpp"

namespace kelnor::core_test {
namespace {

constexpr std::uint32_t UNREACHED = std::numeric_limits<std::uint32_t>::max() / 2;

bool doubles(std::u32string_view text, std::size_t k) {
    return (k > 0 && text[k - 1] == text[k]) || (k + 1 < text.size() && text[k + 1] == text[k]);
}

// The cost of `word` from its whole table, cells more than `band` off the
// diagonal unreached, and the two penalties.
std::uint32_t cost_alone(std::u32string_view typed, std::u32string_view word, std::size_t band) {
    const std::size_t n = typed.size();
    const std::size_t m = word.size();
    std::vector<std::vector<std::uint32_t>> d(m + 1, std::vector<std::uint32_t>(n + 1, UNREACHED));
    for (std::size_t i = 0; i <= m; ++i) {
        for (std::size_t j = 0; j <= n; ++j) {
            if ((i > j ? i - j : j - i) > band) continue;
            if (i == 0 && j == 0) {
                d[i][j] = 0;
                continue;
            }
            std::uint32_t best = UNREACHED;
            if (i > 0) {
                best = d[i - 1][j] +
                       (doubles(word, i - 1) ? DOUBLED_LETTER_COST : MISSING_LETTER_COST);
            }
            if (j > 0) {
                best = std::min(best, d[i][j - 1] + (doubles(typed, j - 1) ? DOUBLED_LETTER_COST
                                                                           : EXTRA_LETTER_COST));
            }
            if (i > 0 && j > 0) {
                const bool same = word[i - 1] == typed[j - 1];
                best = std::min(best, d[i - 1][j - 1] + (same ? 0 : SUBSTITUTION_COST));
                if (!same && i > 1 && j > 1 && word[i - 1] == typed[j - 2] &&
                    word[i - 2] == typed[j - 1]) {
                    best = std::min(best, d[i - 2][j - 2] + SWAP_COST);
                }
            }
            d[i][j] = std::min(best, UNREACHED);
        }
    }
    std::uint32_t cost = d[m][n];
    const auto lower = [](char32_t c) { return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c; };
    if (typed.empty() ? !word.empty() : word.empty() || lower(word[0]) != lower(typed[0])) {
        cost += OTHER_FIRST_LETTER_COST;
    }
    std::vector<char32_t> typed_key;
    std::vector<char32_t> word_key;
    phonetic_key(typed, typed_key);
    phonetic_key(word, word_key);
    if (typed_key != word_key) cost += OTHER_SOUND_COST;
    return cost;
}

// A typed text of each length, the longest so long that its table's rows
// outrun those kept between words, and each bound, the last so large that
// the band is the whole table.
KELNOR_TEST(the_cost_of_each_word_is_that_of_its_whole_table) {
    std::mt19937 random(42);
    const auto letter = [&] {
        return U"aabckKx"[std::uniform_int_distribution<int>(0, 6)(random)];
    };
    for (const std::size_t length : {0, 1, 6, 40, 300}) {
        for (const std::uint32_t max_edits : {0u, 1u, 2u, 3u, 70000u}) {
            std::u32string typed;
            for (std::size_t k = 0; k < length; ++k) typed.push_back(letter());
            SpellingCost spelling(typed, max_edits);
            const std::size_t band = std::size_t{max_edits} * 2;
            std::u32string word = typed;
            for (int k = 0; k < 60; ++k) {
                // The next word keeps a start of the last one, the whole of it
                // at times, and goes on with other letters.
                const std::size_t kept =
                    std::uniform_int_distribution<std::size_t>(0, word.size())(random);
                word.resize(k % 7 == 0 ? word.size() : kept);
                const std::size_t longer = std::uniform_int_distribution<std::size_t>(
                    0, length + 3 > word.size() ? length + 3 - word.size() : 0)(random);
                for (std::size_t added = 0; added < longer; ++added) word.push_back(letter());
                const bool split = !word.empty() && k % 2 == 0;
                const std::span<const char32_t> path(word.data(), word.size() - (split ? 1 : 0));
                CHECK_EQ(spelling.of(path, split ? word.back() : NO_LABEL),
                         cost_alone(typed, word, band));
            }
        }
    }
}

}  // namespace
}  // namespace kelnor::core_test
