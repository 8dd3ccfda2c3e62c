// The two tables of a ranking of several words against plain definitions:
// the standings of one score table for all the words against a map per word
// added up in word order (to the bit), and the heap of the best candidates
// against a sort of them all cut to the limit.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "check.hpp"
#include "queries/best_candidates.hpp"
#include "queries/score_table.hpp"
#include "queries/word_standings.hpp"

namespace kelnor::core_test {
namespace {

struct Entry {
    std::uint32_t word;
    std::uint32_t video;
    double amount;
};

// Entries word after word, as the tallies add them; some words with a total
// of 0, which answer no video.
std::pair<std::vector<Entry>, std::vector<double>> drawn_words(std::mt19937& random) {
    const std::uint32_t words = 1 + random() % 5;
    std::vector<Entry> entries;
    std::vector<double> totals;
    for (std::uint32_t word = 0; word < words; ++word) {
        const int count = static_cast<int>(random() % 300);
        for (int k = 0; k < count; ++k) {
            entries.push_back({word, static_cast<std::uint32_t>(random() % 200),
                               static_cast<double>(random() % 1000) / 7.0});
        }
        totals.push_back(random() % 4 == 0 ? 0.0 : 1.0 + static_cast<double>(random() % 5000));
    }
    return {entries, totals};
}

KELNOR_TEST(standings_add_each_words_score_in_word_order) {
    for (std::uint32_t seed = 0; seed < 50; ++seed) {
        std::mt19937 random(seed);
        // Named, not bound: a lambda below reads the totals.
        const auto drawn = drawn_words(random);
        const std::vector<Entry>& entries = drawn.first;
        const std::vector<double>& totals = drawn.second;
        BasicScoreTable<Standing> standings(1);  // grows, moving pending sums
        std::vector<std::map<std::uint32_t, double>> sums(totals.size());
        for (const Entry& entry : entries) {
            standings.add(entry.video, WordAmount{entry.word, entry.amount, totals});
            sums[entry.word][entry.video] += entry.amount;
        }
        std::map<std::uint32_t, std::pair<std::uint32_t, double>> expected;
        for (std::size_t word = 0; word < totals.size(); ++word) {
            if (!(totals[word] > 0.0)) continue;
            for (const auto& [video, sum] : sums[word]) {
                auto& [answered, score] = expected[video];
                ++answered;
                score += sum / totals[word];
            }
        }
        std::map<std::uint32_t, std::pair<std::uint32_t, double>> actual;
        standings.for_each([&](std::uint32_t video, Standing standing) {
            standing.fold(totals);
            if (standing.words > 0) actual[video] = {standing.words, standing.score};
        });
        CHECK_EQ(actual, expected);
    }
}

// Higher score first, then ascending video: a strict total order.
struct HigherFirst {
    bool operator()(const Candidate& a, const Candidate& b) const {
        if (a.score != b.score) return a.score > b.score;
        return a.video < b.video;
    }
};

std::vector<std::pair<std::uint32_t, double>> shown(const std::vector<Candidate>& candidates) {
    std::vector<std::pair<std::uint32_t, double>> pairs;
    for (const Candidate& candidate : candidates)
        pairs.emplace_back(candidate.video, candidate.score);
    return pairs;
}

KELNOR_TEST(best_candidates_are_the_first_of_a_full_sort) {
    for (std::uint32_t seed = 0; seed < 30; ++seed) {
        std::mt19937 random(seed);
        std::vector<Candidate> offered;
        const int count = static_cast<int>(random() % 400);
        for (int k = 0; k < count; ++k) {
            // Few distinct scores, so that many tie and the video decides.
            offered.push_back(
                {static_cast<std::uint32_t>(k), static_cast<double>(random() % 8), 1});
        }
        std::shuffle(offered.begin(), offered.end(), random);
        std::vector<Candidate> sorted = offered;
        std::sort(sorted.begin(), sorted.end(), HigherFirst{});
        for (const std::optional<std::uint32_t> limit :
             {std::optional<std::uint32_t>{}, std::optional<std::uint32_t>{0},
              std::optional<std::uint32_t>{1}, std::optional<std::uint32_t>{10},
              std::optional<std::uint32_t>{4294967295u}}) {
            BestCandidates<HigherFirst> best(limit);
            for (const Candidate& candidate : offered) best.offer(candidate);
            std::vector<Candidate> expected = sorted;
            if (limit && expected.size() > *limit) expected.resize(*limit);
            CHECK_EQ(shown(std::move(best).ranked()), shown(expected));
        }
    }
}

}  // namespace
}  // namespace kelnor::core_test
