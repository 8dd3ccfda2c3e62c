// The two matchers: the documented walks, unusual trie shapes, bounds near
// the ends of their ranges, and damaged indexes.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/interrupt_check.hpp"
#include "check.hpp"
#include "index/trie/walk_index.hpp"
#include "queries/fuzzy_match.hpp"
#include "queries/fuzzy_match_nodes.hpp"
#include "queries/walk/bit_parallel_rows.hpp"
#include "queries/walk/query_masks.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

using Texts = std::vector<std::pair<std::string, std::uint32_t>>;
using Hits = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();
constexpr std::optional<std::uint32_t> NO_LIMIT = std::nullopt;

using namespace std::literals;

Trie terms(std::vector<std::u32string> words) {
    std::vector<TermEntry> entries;
    for (std::u32string& word : words) entries.push_back({std::move(word), PayloadLists{}});
    return built_trie(entries);
}

// fuzzy_match as (text, distance) pairs.
Texts matched(const Trie& trie, std::string_view term, std::uint32_t max_dist,
              std::optional<std::uint32_t> limit = NO_LIMIT) {
    Texts texts;
    for (const MatchResult& result : fuzzy_match(trie, term, max_dist, limit)) {
        texts.emplace_back(result.term, result.distance);
    }
    return texts;
}

// fuzzy_match_nodes as (node, distance) pairs.
Hits nodes(const Trie& trie, std::u32string_view term, std::uint32_t max_dist, bool terminal_only,
           std::optional<std::uint32_t> limit = NO_LIMIT) {
    Hits hits;
    for (const NodeHit& hit :
         fuzzy_match_nodes(trie, term, max_dist, EditMetric::levenshtein, terminal_only, limit)) {
        hits.emplace_back(hit.node, hit.distance);
    }
    return hits;
}

// A trie given by its arrays, every node terminal, no payloads.
Trie raw(std::vector<std::uint32_t> node_shifts, std::u32string_view labels,
         std::vector<std::uint32_t> child_transitions) {
    Trie trie;
    trie.is_terminal.assign(labels.size(), 1);
    trie.payloads = payload_table(std::vector<std::optional<PayloadLists>>(labels.size()));
    trie.child_labels.assign(labels.begin(), labels.end());
    trie.node_shifts = std::move(node_shifts);
    trie.child_transitions = std::move(child_transitions);
    return trie;
}

KELNOR_TEST(hits_come_in_walk_order_not_by_distance) {
    const Trie trie = terms({U"car", U"cart", U"cat"});
    CHECK_EQ(matched(trie, "car", 1), (Texts{{"car", 0}, {"cart", 1}, {"cat", 1}}));
    CHECK_EQ(matched(trie, "car", 1, 2), (Texts{{"car", 0}, {"cart", 1}}));
}

KELNOR_TEST(the_empty_term) {
    const Trie trie = terms({U"a", U"bc", U"d"});
    CHECK_EQ(matched(trie, "", 1), (Texts{{"a", 1}, {"d", 1}}));
    CHECK_EQ(matched(trie, "", 0), Texts{});
    CHECK_EQ(matched(trie, "", 2), (Texts{{"a", 1}, {"bc", 2}, {"d", 1}}));
}

KELNOR_TEST(distance_zero_is_exact_spelling) {
    const Trie trie = terms({U"ca", U"car", U"cart", U"Car"});
    CHECK_EQ(matched(trie, "car", 0), (Texts{{"car", 0}}));
}

KELNOR_TEST(unit_costs_without_transposition_and_case_sensitive) {
    CHECK_EQ(matched(terms({U"ba"}), "ab", 1), Texts{});
    CHECK_EQ(matched(terms({U"ba"}), "ab", 2), (Texts{{"ba", 2}}));
    CHECK_EQ(matched(terms({U"cat"}), "Cat", 1), (Texts{{"cat", 1}}));
    CHECK_EQ(matched(terms({U"kitten"}), "sitting", 3), (Texts{{"kitten", 3}}));
    CHECK_EQ(matched(terms({U"kitten"}), "sitting", 2), Texts{});
}

KELNOR_TEST(terms_are_compared_by_character_not_by_byte) {
    // "né" is three bytes and two characters.
    const Trie trie = terms({U"ne", U"n\u00E9", U"\U0001F600"});
    CHECK_EQ(matched(trie, "n\xC3\xA9", 1), (Texts{{"ne", 1}, {"n\xC3\xA9", 0}}));
    CHECK_EQ(matched(trie, "\xF0\x9F\x98\x80", 0), (Texts{{"\xF0\x9F\x98\x80", 0}}));
    CHECK_EQ(matched(trie, "x", 1), (Texts{{"\xF0\x9F\x98\x80", 1}}));
}

KELNOR_TEST(siblings_with_the_same_label_are_both_reported) {
    // Root with two children labelled 'a'.
    const Trie trie = raw({0, 2, 2}, U"\0aa"sv, {1, 2});
    CHECK_EQ(nodes(trie, U"a", 0, true), (Hits{{1, 0}, {2, 0}}));
    CHECK_EQ(matched(trie, "a", 0), (Texts{{"a", 0}, {"a", 0}}));
}

KELNOR_TEST(a_child_without_label_hides_its_subtree) {
    // Root -> 1 (label 0) -> 2 'a'; root -> 3 'a'.
    const Trie trie = raw({0, 2, 3, 3}, U"\0\0aa"sv, {1, 3, 2});
    CHECK_EQ(nodes(trie, U"a", 1, false), (Hits{{3, 0}}));
    CHECK_EQ(nodes(trie, U"", 5, false), (Hits{{3, 1}}));
}

KELNOR_TEST(a_node_with_two_parents_is_found_on_each_path) {
    // Root -> 1 'a', root -> 2 'b'; both lead to 3 'c'.
    const Trie trie = raw({0, 2, 3, 4}, U"\0abc"sv, {1, 2, 3, 3});
    CHECK_EQ(matched(trie, "ac", 1), (Texts{{"a", 1}, {"ac", 0}, {"bc", 1}}));
}

KELNOR_TEST(a_cycle_is_followed_only_as_deep_as_the_bound_allows) {
    // Node 1 'a' is a child of the root and of itself.
    const Trie trie = raw({0, 1}, U"\0a"sv, {1, 1});
    CHECK_EQ(matched(trie, "aaa", 1), (Texts{{"aa", 1}, {"aaa", 0}, {"aaaa", 1}}));
    CHECK_EQ(nodes(trie, U"", 3, false), (Hits{{1, 1}, {1, 2}, {1, 3}}));
}

KELNOR_TEST(prefix_nodes_lead_on_and_pruned_nodes_stop_the_walk) {
    // Only "abcd" is terminal; its prefixes are walked through.
    const Trie trie = terms({U"abcd"});
    CHECK_EQ(matched(trie, "abcd", 0), (Texts{{"abcd", 0}}));
    // "abcd" itself is within 1 of "abc", but "xbcd" prunes at x.
    CHECK_EQ(matched(trie, "abc", 1), (Texts{{"abcd", 1}}));
    CHECK_EQ(matched(terms({U"xbcd"}), "abcd", 0), Texts{});
}

KELNOR_TEST(limits) {
    const Trie trie = terms({U"aa", U"ab", U"ac", U"ad", U"ae"});
    CHECK_EQ(matched(trie, "a", 1).size(), std::size_t{5});
    CHECK_EQ(matched(trie, "a", 1, 2), (Texts{{"aa", 1}, {"ab", 1}}));
    CHECK_EQ(matched(trie, "a", 1, 0), Texts{});
    CHECK_EQ(matched(trie, "a", 1, U32_MAX).size(), std::size_t{5});
    CHECK_EQ(nodes(trie, U"a", 1, false, 0), Hits{});
    CHECK_EQ(nodes(trie, U"a", 1, false, 3), (Hits{{1, 0}, {2, 1}, {3, 1}}));
}

KELNOR_TEST(node_matcher_reports_prefix_nodes_on_request) {
    const Trie trie = terms({U"car", U"cart"});
    // Nodes: 0 root, 1 c, 2 ca, 3 car, 4 cart.
    CHECK_EQ(nodes(trie, U"car", 1, true), (Hits{{3, 0}, {4, 1}}));
    CHECK_EQ(nodes(trie, U"car", 1, false), (Hits{{2, 1}, {3, 0}, {4, 1}}));
    CHECK_EQ(nodes(trie, U"ca", 0, true), Hits{});
    CHECK_EQ(nodes(trie, U"ca", 0, false), (Hits{{2, 0}}));
    CHECK_EQ(nodes(terms({U"x", U"yz"}), U"", 1, false), (Hits{{1, 1}, {2, 1}}));
}

KELNOR_TEST(both_matchers_agree_on_terminal_nodes) {
    const Trie trie = terms({U"car", U"cart", U"cat", U"dog", U"do", U"cot"});
    for (const std::uint32_t max_dist : {0u, 1u, 2u, 3u}) {
        Hits from_terms;
        for (const MatchResult& result : fuzzy_match(trie, "cat", max_dist, NO_LIMIT)) {
            from_terms.emplace_back(result.node, result.distance);
        }
        CHECK_EQ(nodes(trie, U"cat", max_dist, true), from_terms);
    }
}

// Every max_dist from 65535 up means 65535; sizing the walk from the full
// value would wrap (n + max_dist + 2) around a 32-bit size_t.
KELNOR_TEST(max_dist_of_the_whole_32_bit_range) {
    const Trie trie = terms({U"a", U"bc", U"abc"});
    for (const std::uint32_t max_dist : {65535u, 65536u, 131072u, U32_MAX - 1, U32_MAX}) {
        CHECK_EQ(matched(trie, "xbcd", max_dist), (Texts{{"a", 4}, {"abc", 2}, {"bc", 2}}));
        CHECK_EQ(matched(trie, "", max_dist), (Texts{{"a", 1}, {"abc", 3}, {"bc", 2}}));
        CHECK_EQ(nodes(trie, U"ab", max_dist, true).size(), std::size_t{3});
    }
}

KELNOR_TEST(distances_beyond_16_bits_are_not_wrapped) {
    const Trie trie = terms({U"a", U"bb"});
    const std::string long_term(65536, 'a');
    CHECK_EQ(matched(trie, long_term, U32_MAX), (Texts{{"a", 65535}}));
    CHECK_EQ(matched(trie, long_term + "a", U32_MAX), Texts{});
}

KELNOR_TEST(an_index_without_nodes_matches_nothing) {
    const Trie empty;
    CHECK_EQ(matched(empty, "a", 1), Texts{});
    CHECK_EQ(nodes(empty, U"", 3, false), Hits{});
}

KELNOR_TEST(damaged_indexes_fail_on_the_first_bad_read) {
    // A transition to a node without a label.
    CHECK_INTERNAL_FAILURE(matched(raw({0, 1}, U"\0a"sv, {5}), "a", 1),
                           "index out of bounds: the len is 2 but the index is 5");
    // Node 0's range [0, 3) over one transition.
    CHECK_INTERNAL_FAILURE(matched(raw({0, 3}, U"\0a"sv, {1}), "a", 1),
                           "index out of bounds: the len is 1 but the index is 1");
    // A child without a node_shifts entry.
    CHECK_INTERNAL_FAILURE(matched(raw({0}, U"\0a"sv, {1}), "a", 1),
                           "index out of bounds: the len is 1 but the index is 1");
    // A hit without an is_terminal entry.
    Trie short_flags = raw({0, 1}, U"\0a"sv, {1});
    short_flags.is_terminal.clear();
    CHECK_INTERNAL_FAILURE(matched(short_flags, "a", 1),
                           "index out of bounds: the len is 0 but the index is 1");
    CHECK_INTERNAL_FAILURE(nodes(short_flags, U"a", 1, true),
                           "index out of bounds: the len is 0 but the index is 1");
    CHECK_EQ(nodes(short_flags, U"a", 1, false), (Hits{{1, 0}}));
    // A range up to the widest shift fails at the end of the transitions.
    CHECK_INTERNAL_FAILURE(matched(raw({0, U32_MAX}, U"\0a"sv, {1}), "a", 1),
                           "index out of bounds: the len is 1 but the index is 1");
}

// Nodes 0 to `rungs` in a line, each the child of the one before twice over:
// 2^rungs paths, all labelled "a". With `indexed`, the trie gets its walk
// index (it is sound), so that short queries take the fast walk.
Trie ladder(std::uint32_t rungs, bool indexed) {
    std::vector<std::uint32_t> shifts;
    std::vector<std::uint32_t> transitions;
    for (std::uint32_t node = 0; node <= rungs; ++node) {
        shifts.push_back(static_cast<std::uint32_t>(transitions.size()));
        if (node < rungs) transitions.insert(transitions.end(), {node + 1, node + 1});
    }
    Trie trie = raw(shifts, std::u32string(1, U'\0') + std::u32string(rungs, U'a'), transitions);
    if (indexed) trie.walk_index = walk_index_of(trie);
    return trie;
}

KELNOR_TEST(walks_stop_at_their_budget_where_paths_multiply) {
    // 64 per entry of the 31 node_shifts and 60 child_transitions, plus a million.
    const std::string spent =
        "the walk used up its budget of 1005824 visits: the child lists reach some node by more "
        "than one path";
    // fuzzy_match spells each hit's 30 labels: (30 + 0 + 1) per entry, plus a million.
    const std::string spelled =
        "the walk used up its budget of 1002821 labels spelled: the child lists reach some node "
        "by more than one path";
    for (const bool indexed : {true, false}) {
        const Trie trie = ladder(30, indexed);
        CHECK_INTERNAL_FAILURE(matched(trie, std::string(30, 'a'), 0), spelled);
        CHECK_INTERNAL_FAILURE(nodes(trie, std::u32string(35, U'a'), 9, false), spent);
        // Walks within the budget answer in full: one hit per path.
        CHECK_EQ(matched(trie, "aaaaaaaaaaaaaa", 0, NO_LIMIT).size(), std::size_t{1} << 14);
    }
}

// An InterruptCheck that says stop at its `stop_at`-th call.
struct CountedCheck {
    int calls = 0;
    int stop_at;
    InterruptCheck check() {
        return {[](void* context) {
                    auto& counted = *static_cast<CountedCheck*>(context);
                    return ++counted.calls == counted.stop_at;
                },
                this};
    }
};

KELNOR_TEST(a_walk_asks_its_host_and_stops_when_told) {
    const Trie trie = ladder(80, true);
    // The fast walk (a short query, a small bound) and the checked walk.
    for (const auto& [length, bound] : {std::pair{40u, 8u}, std::pair{70u, 9u}}) {
        CountedCheck counted{.stop_at = 3};
        bool interrupted = false;
        try {
            fuzzy_match(trie, std::string(length, 'a'), bound, NO_LIMIT, counted.check());
        } catch (const Interrupted&) {
            interrupted = true;
        }
        CHECK(interrupted);
        CHECK_EQ(counted.calls, 3);
    }
    // A check that never says stop changes nothing.
    const Trie small = ladder(8, true);
    CountedCheck never{.stop_at = 0};
    CHECK_EQ(fuzzy_match(small, "aaaa", 1, NO_LIMIT, never.check()).size(),
             fuzzy_match(small, "aaaa", 1, NO_LIMIT).size());
}

// The walk gives a child whose label matches no position of its parent's
// continuation the parent's unmatched row; that is only sound if extend()
// ignores every other bit of the label's mask.
template <class Rows>
void check_labels_outside_the_continuation(const QueryMasks& query, const Rows& rows,
                                           const typename Rows::Row& row, std::size_t depth,
                                           std::u32string_view alphabet) {
    if (depth == 5) return;
    for (const char32_t label : alphabet) {
        const std::uint64_t match = query.of(label);
        const auto child = rows.extend(row, depth, match);
        CHECK(child == rows.extend(row, depth, match & rows.continuation(row)));
        check_labels_outside_the_continuation(query, rows, child, depth + 1, alphabet);
    }
}

template <std::uint32_t Bound, EditMetric Metric>
void check_labels_outside_the_continuation(const QueryMasks& query) {
    const BitParallelRows<Bound, Metric> rows(query);
    check_labels_outside_the_continuation(query, rows, rows.first_row(), 0, U"abcdx");
}

KELNOR_TEST(labels_outside_the_continuation_extend_a_row_as_no_match) {
    for (const std::u32string_view text : {U"abcabd"sv, U"aab"sv, U"dcbaabcd"sv, U"badcab"sv}) {
        const QueryMasks query(text);
        check_labels_outside_the_continuation<1, EditMetric::levenshtein>(query);
        check_labels_outside_the_continuation<2, EditMetric::levenshtein>(query);
        check_labels_outside_the_continuation<1, EditMetric::optimal_string_alignment>(query);
        check_labels_outside_the_continuation<2, EditMetric::optimal_string_alignment>(query);
    }
}

}  // namespace
}  // namespace kelnor::core_test
