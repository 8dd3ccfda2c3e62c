// The score table against a plain map: sums in the order added, every video
// once, through growth, room made and colliding positions, a taken sum given
// once; and the payload table's video counts that size it.
#include <cstdint>
#include <map>
#include <optional>
#include <random>

#include "check.hpp"
#include "queries/score_table.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

std::map<std::uint32_t, double> contents(const ScoreTable& table) {
    std::map<std::uint32_t, double> sums;
    table.for_each(
        [&](std::uint32_t video, double sum) { CHECK(sums.emplace(video, sum).second); });
    return sums;
}

KELNOR_TEST(score_table_sums_like_a_map_through_growth) {
    for (const std::uint32_t spread : {3u, 5000u, 4294967295u}) {
        std::mt19937 random(spread);
        ScoreTable table(1);
        std::map<std::uint32_t, double> expected;
        for (int added = 0; added < 20000; ++added) {
            if (added % 7000 == 3000) table.make_room(5000);  // rehashes what is there
            const std::uint32_t video = random() % spread;
            const double amount = static_cast<double>(random() % 1000) / 7.0;
            table.add(video, amount);
            expected[video] += amount;
        }
        CHECK_EQ(contents(table), expected);
        CHECK_EQ(table.size(), expected.size());
    }
}

KELNOR_TEST(score_table_starts_empty_and_keeps_zero_sums) {
    ScoreTable table(0);
    CHECK(contents(table).empty());
    table.add(0, 0.0);
    table.add(4294967295u, 1.5);
    CHECK_EQ(contents(table), (std::map<std::uint32_t, double>{{0, 0.0}, {4294967295u, 1.5}}));
}

KELNOR_TEST(score_table_gives_a_taken_sum_once_and_visits_it_no_more) {
    ScoreTable table(1);
    for (const std::uint32_t video : {9u, 4294967295u, 9u, 0u}) table.add(video, 1.25);
    CHECK(table.take(9) == std::optional<double>(2.5));
    CHECK(table.take(9) == std::nullopt);
    CHECK(table.take(7) == std::nullopt);
    CHECK_EQ(contents(table), (std::map<std::uint32_t, double>{{0, 1.25}, {4294967295u, 1.25}}));
}

KELNOR_TEST(payload_video_counts_agree_with_the_lists) {
    const PayloadTable table = payload_table({
        std::nullopt,
        PayloadLists{},
        PayloadLists{4294967295u, {0, 127, 128, 16383, 16384, 4294967295u}, {1, 2}},
        PayloadLists{3, {7}, {3, 9, 9}},
    });
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        CHECK_EQ(table.video_count(slot), table.view(slot).video_ids.size());
    }
    CHECK_EQ(table.video_count(2), std::size_t{6});
}

}  // namespace
}  // namespace kelnor::core_test
