// The two edit metrics: the checked walk's rows against the full table of
// each metric's definition, and the cases that tell the metrics apart through
// both walks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "queries/walk/distance_table.hpp"
#include "queries/walk/trie_walk.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

constexpr EditMetric OSA = EditMetric::optimal_string_alignment;

// The last row of the whole O(|path| * |query|) table of `metric` between
// the path and the query's prefixes, straight from the definition.
std::vector<std::uint32_t> last_row(std::u32string_view path, std::u32string_view query,
                                    EditMetric metric) {
    const std::size_t m = path.size();
    const std::size_t n = query.size();
    std::vector<std::vector<std::uint32_t>> d(m + 1, std::vector<std::uint32_t>(n + 1));
    for (std::size_t i = 0; i <= m; ++i) {
        for (std::size_t j = 0; j <= n; ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = static_cast<std::uint32_t>(i + j);
                continue;
            }
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (path[i - 1] == query[j - 1] ? 0 : 1)});
            if (metric == OSA && i >= 2 && j >= 2 && path[i - 1] == query[j - 2] &&
                path[i - 2] == query[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[m];
}

// Extends the table by every path of up to `deepest` labels of `alphabet`
// below `path`, depth first as a walk reuses its rows, and checks each row's
// least cell and the whole query's distance, clamped to bound + 1.
void check_rows_below(DistanceTable& table, std::u32string& path, std::u32string_view query,
                      std::uint32_t bound, EditMetric metric, std::u32string_view alphabet,
                      std::size_t deepest) {
    for (const char32_t label : alphabet) {
        const std::uint32_t least = table.extend(path.size(), label);
        path.push_back(label);
        const std::vector<std::uint32_t> row = last_row(path, query, metric);
        const std::uint32_t ceiling = bound + 1;
        const std::uint32_t row_least = *std::min_element(row.begin(), row.end());
        CHECK_EQ(least, std::min(row_least, ceiling));
        CHECK_EQ(table.query_distance(path.size()), std::min(row.back(), ceiling));
        if (path.size() < deepest) {
            check_rows_below(table, path, query, bound, metric, alphabet, deepest);
        }
        path.pop_back();
    }
}

KELNOR_TEST(banded_rows_hold_the_distances_of_the_full_table) {
    std::mt19937 random(18);
    for (int k = 0; k < 40; ++k) {
        std::u32string query(std::uniform_int_distribution<std::size_t>(0, 8)(random), U'a');
        for (char32_t& character : query) {
            character = U'a' + std::uniform_int_distribution<char32_t>(0, 2)(random);
        }
        for (std::uint32_t bound = 0; bound <= 3; ++bound) {
            for (const EditMetric metric : {EditMetric::levenshtein, OSA}) {
                DistanceTable table(query, bound, metric);
                std::u32string path;
                check_rows_below(table, path, query, bound, metric, U"abc", 6);
            }
        }
    }
}

using Texts = std::vector<std::pair<std::u32string, std::uint32_t>>;

// The terms that a walk finds, in walk order.
Texts found(const Trie& trie, std::u32string_view query, std::uint32_t bound, EditMetric metric) {
    Texts texts;
    walk_within_distance(trie, query, bound, metric, std::nullopt, InterruptCheck{},
                         [&](std::uint32_t node, std::uint32_t distance,
                             std::span<const char32_t> path, char32_t label) {
                             if (!trie.is_terminal[node]) return false;
                             std::u32string text(path.begin(), path.end());
                             texts.emplace_back(text + label, distance);
                             return true;
                         });
    return texts;
}

KELNOR_TEST(a_swap_of_adjacent_characters_is_one_edit_and_nothing_is_edited_twice) {
    std::vector<TermEntry> entries;
    for (const std::u32string_view term : {U"the", U"teh", U"hte", U"eht", U"abc", U"xyz"}) {
        entries.push_back({std::u32string(term), PayloadLists{}});
    }
    const Trie fast = built_trie(entries);
    Trie checked = fast;
    checked.walk_index = WalkIndex{};
    struct Case {
        std::u32string_view query;
        std::uint32_t bound;
        Texts levenshtein;
        Texts swaps;
    };
    const Case cases[] = {
        {U"the", 1, {{U"the", 0}}, {{U"the", 0}, {U"teh", 1}, {U"hte", 1}}},
        {U"the",
         2,
         {{U"the", 0}, {U"teh", 2}, {U"hte", 2}, {U"eht", 2}},
         {{U"the", 0}, {U"teh", 1}, {U"hte", 1}, {U"eht", 2}}},
        // Within no edit both are exact spelling.
        {U"teh", 0, {{U"teh", 0}}, {{U"teh", 0}}},
        // "ca" is two edits from "abc" only by editing the swapped pair again.
        {U"ca", 2, {}, {}},
        {U"ca",
         3,
         {{U"the", 3}, {U"teh", 3}, {U"hte", 3}, {U"eht", 3}, {U"abc", 3}, {U"xyz", 3}},
         {{U"the", 3}, {U"teh", 3}, {U"hte", 3}, {U"eht", 3}, {U"abc", 3}, {U"xyz", 3}}},
        {U"bca", 2, {{U"abc", 2}}, {{U"abc", 2}}},
        {U"bac", 1, {}, {{U"abc", 1}}},
    };
    for (const Case& test : cases) {
        for (const Trie* trie : {&fast, static_cast<const Trie*>(&checked)}) {
            CHECK_EQ(found(*trie, test.query, test.bound, EditMetric::levenshtein),
                     test.levenshtein);
            CHECK_EQ(found(*trie, test.query, test.bound, OSA), test.swaps);
        }
    }
}

}  // namespace
}  // namespace kelnor::core_test
