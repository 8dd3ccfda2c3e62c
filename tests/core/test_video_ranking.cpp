// The video ranking: weights, normalisation, min_score, limits, the two id
// forms, positions outside the video table, and damaged indexes.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "queries/video_ranking.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

using Scores = std::vector<std::pair<std::string, double>>;
constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();
constexpr std::optional<std::uint32_t> NO_LIMIT = std::nullopt;
constexpr std::optional<bool> FALLBACK = std::nullopt;

struct Query {
    std::string_view term;
    std::uint32_t max_dist = 1;
    std::optional<std::uint32_t> limit = NO_LIMIT;
    std::optional<bool> include_prefix_nodes = FALLBACK;
    std::optional<double> min_score = std::nullopt;
};

Scores ranked(const Trie& trie, const Query& query) {
    Scores scores;
    for (VideoScore& score : fuzzy_match_video(trie, query.term, query.max_dist, query.limit,
                                               query.include_prefix_nodes, query.min_score)) {
        scores.emplace_back(std::move(score.video_id), score.score);
    }
    return scores;
}

// One term with total 10 and videos 70 (count 5) and 71 (count 1).
Trie one_term(std::u32string term = U"abcde") {
    return built_trie({{std::move(term), {10, {0, 1}, {5, 1}}}}, int_videos({70, 71}));
}

KELNOR_TEST(one_exact_hit_scores_each_video_by_its_share) {
    CHECK_EQ(ranked(one_term(), {"abcde"}), (Scores{{"70", 0.5}, {"71", 0.1}}));
    CHECK_EQ(ranked(one_term(), {"abcde", 1, NO_LIMIT, FALLBACK, 0.2}), (Scores{{"70", 0.5}}));
    CHECK_EQ(ranked(one_term(), {"abcde", 1, NO_LIMIT, FALLBACK, 0.1}),
             (Scores{{"70", 0.5}, {"71", 0.1}}));
}

KELNOR_TEST(min_score_extremes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    CHECK_EQ(ranked(one_term(), {"abcde", 1, NO_LIMIT, FALLBACK, nan}), Scores{});
    CHECK_EQ(ranked(one_term(), {"abcde", 1, NO_LIMIT, FALLBACK, inf}), Scores{});
    CHECK_EQ(ranked(one_term(), {"abcde", 1, NO_LIMIT, FALLBACK, -inf}).size(), std::size_t{2});
    CHECK_EQ(ranked(one_term(), {"abcde", 1, NO_LIMIT, FALLBACK, 0.0}).size(), std::size_t{2});
}

KELNOR_TEST(the_default_min_score_is_inclusive) {
    const Trie trie = built_trie({{U"a", {1000, {0, 1}, {10, 9}}}}, int_videos({1, 2}));
    CHECK_EQ(ranked(trie, {"a", 0}), (Scores{{"1", 0.01}}));
}

// cat (total 10: A 6, B 4) and car (total 5: B 5), term cat.
KELNOR_TEST(an_exact_hit_outweighs_a_near_one) {
    const Trie trie = built_trie({{U"cat", {10, {0, 1}, {6, 4}}}, {U"car", {5, {1}, {5}}}},
                                 int_videos({100, 200}));
    const double near = (1.0 - 1.0 / 3.0) * 0.05;
    const double total = 0.0 + 1.0 * 10 + near * 5;
    const Scores expected{{"100", (0.0 + 1.0 * 6) / total},
                          {"200", (0.0 + 1.0 * 4 + near * 5) / total}};
    CHECK_EQ(ranked(trie, {"cat"}), expected);
    CHECK(std::abs(expected[0].second - 0.590) < 0.001);
}

// harry alone, term ha: no terminal node within 1, so the prefix nodes h,
// ha and har are used, each weighed by the prefix factor.
KELNOR_TEST(prefix_nodes_are_the_fallback) {
    const Trie trie = built_trie({{U"harry", {10, {0, 1}, {4, 6}}}}, int_videos({4, 6}));
    const double near = (1.0 - 1.0 / 2.0) * 0.05 * 0.85;
    const double exact = 1.0 * 0.85;
    const double total = 0.0 + near * 10 + exact * 10 + near * 10;
    const Scores expected{{"6", (0.0 + near * 6 + exact * 6 + near * 6) / total},
                          {"4", (0.0 + near * 4 + exact * 4 + near * 4) / total}};
    CHECK_EQ(ranked(trie, {"ha"}), expected);
    CHECK_EQ(ranked(trie, {"ha", 1, NO_LIMIT, true}), expected);
    CHECK_EQ(ranked(trie, {"ha", 1, NO_LIMIT, false}), Scores{});
}

KELNOR_TEST(prefix_nodes_are_not_used_once_a_terminal_node_matches) {
    // ab (video 1) and abcd (video 2); term abc is within 1 of both, and
    // is the prefix node abc exactly.
    const Trie trie =
        built_trie({{U"ab", {1, {0}, {1}}}, {U"abcd", {1, {1}, {1}}}}, int_videos({1, 2}));
    CHECK_EQ(ranked(trie, {"abc"}), ranked(trie, {"abc", 1, NO_LIMIT, false}));
    CHECK(ranked(trie, {"abc"}) != ranked(trie, {"abc", 1, NO_LIMIT, true}));
}

KELNOR_TEST(hits_that_weigh_nothing_are_skipped) {
    // Term of two characters, max_dist 2: hits at distance 2 weigh 0.
    const Trie trie =
        built_trie({{U"xy", {10, {0}, {10}}}, {U"ab", {10, {1}, {10}}}}, int_videos({1, 2}));
    CHECK_EQ(ranked(trie, {"ab", 2}), (Scores{{"2", 1.0}}));
    CHECK_EQ(ranked(trie, {"zz", 2}), Scores{});
    // An empty term gives weight 0 to every hit.
    CHECK_EQ(ranked(trie, {"", 2}), Scores{});
}

KELNOR_TEST(a_zero_weight_total_gives_nothing) {
    const Trie trie = built_trie({{U"a", {0, {0, 1}, {5, 5}}}}, int_videos({1, 2}));
    CHECK_EQ(ranked(trie, {"a"}), Scores{});
}

KELNOR_TEST(limits_select_the_best) {
    const Trie trie = built_trie({{U"a", {10, {0, 1, 2}, {2, 5, 3}}}}, int_videos({10, 11, 12}));
    CHECK_EQ(ranked(trie, {"a", 0, 0}), Scores{});
    CHECK_EQ(ranked(trie, {"a", 0, 1}), (Scores{{"11", 0.5}}));
    CHECK_EQ(ranked(trie, {"a", 0, 2}), (Scores{{"11", 0.5}, {"12", 0.3}}));
    CHECK_EQ(ranked(trie, {"a", 0, U32_MAX}), (Scores{{"11", 0.5}, {"12", 0.3}, {"10", 0.2}}));
}

KELNOR_TEST(equal_scores_rank_by_video_position) {
    const Trie trie = built_trie({{U"a", {4, {2, 0, 1}, {1, 1, 1}}}}, int_videos({30, 10, 20}));
    CHECK_EQ(ranked(trie, {"a", 0}), (Scores{{"30", 0.25}, {"10", 0.25}, {"20", 0.25}}));
    CHECK_EQ(ranked(trie, {"a", 0, 2}), (Scores{{"30", 0.25}, {"10", 0.25}}));
}

KELNOR_TEST(id_forms) {
    const Trie ints = built_trie({{U"a", {1, {0}, {1}}}}, int_videos({U32_MAX}));
    CHECK_EQ(ranked(ints, {"a"}), (Scores{{"4294967295", 1.0}}));

    VideoTable uuids;
    VideoUuid id{};
    for (std::size_t k = 0; k < id.size(); ++k) id[k] = static_cast<std::uint8_t>(k);
    uuids.video_uuids = {id};
    const Trie uuid_trie = built_trie({{U"a", {1, {0}, {1}}}}, uuids);
    CHECK_EQ(ranked(uuid_trie, {"a"}), (Scores{{"00010203-0405-0607-0809-0a0b0c0d0e0f", 1.0}}));
}

KELNOR_TEST(positions_outside_the_video_table_are_dropped_after_the_cut) {
    const Trie trie = built_trie({{U"a", {10, {0, 5, 1}, {2, 5, 3}}}}, int_videos({10, 11}));
    CHECK_EQ(ranked(trie, {"a", 0}), (Scores{{"11", 0.3}, {"10", 0.2}}));
    CHECK_EQ(ranked(trie, {"a", 0, 2}), (Scores{{"11", 0.3}}));
    // Positions of the inactive table do not count either.
    Trie uuid_mode = built_trie({{U"a", {1, {0}, {1}}}}, int_videos({10}));
    uuid_mode.id_mode = IdMode::Uuid;
    CHECK_EQ(ranked(uuid_mode, {"a"}), Scores{});
}

KELNOR_TEST(max_dist_and_limit_at_the_top_of_the_32_bit_range) {
    const Trie trie = one_term(U"ab");
    CHECK_EQ(ranked(trie, {"ab", U32_MAX, U32_MAX}), (Scores{{"70", 0.5}, {"71", 0.1}}));
    CHECK_EQ(ranked(trie, {"zz", U32_MAX, U32_MAX}), Scores{});
}

KELNOR_TEST(damaged_indexes_fail_on_the_first_bad_read) {
    // Node 1 has fewer counts than video ids.
    Trie short_counts = one_term(U"a");
    short_counts.payloads = payload_table({PayloadLists{}, PayloadLists{4, {0, 1}, {2}}});
    CHECK_INTERNAL_FAILURE(ranked(short_counts, {"a"}),
                           "index out of bounds: the len is 1 but the index is 1");

    Trie no_payloads = one_term(U"a");
    no_payloads.payloads = payload_table({PayloadLists{}});
    CHECK_INTERNAL_FAILURE(ranked(no_payloads, {"a"}),
                           "index out of bounds: the len is 1 but the index is 1");

    // Absent payloads add nothing.
    Trie absent = one_term(U"a");
    absent.payloads = payload_table({std::nullopt, std::nullopt});
    CHECK_EQ(ranked(absent, {"a"}), Scores{});

    Trie no_flags = one_term(U"a");
    no_flags.is_terminal.pop_back();
    CHECK_INTERNAL_FAILURE(ranked(no_flags, {"a"}),
                           "index out of bounds: the len is 1 but the index is 1");
}

}  // namespace
}  // namespace kelnor::core_test
