// Payload propagation: merging up the trie, the cut to top_n, saturation,
// unusual child lists, and child ranges that run past child_transitions.
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "check.hpp"
#include "index/trie/propagate.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

using Ids = std::vector<std::uint32_t>;
constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();

// A trie of the given shape whose labels are all 'x'.
Trie shaped(Ids node_shifts, Ids child_transitions,
            const std::vector<std::optional<PayloadLists>>& payloads) {
    Trie trie;
    trie.child_labels.assign(payloads.size(), U'x');
    trie.is_terminal.assign(payloads.size(), 0);
    trie.node_shifts = std::move(node_shifts);
    trie.child_transitions = std::move(child_transitions);
    trie.payloads = payload_table(payloads);
    return trie;
}

// Node 0 with the given payload and one child, node 1, with the other.
Trie parent_and_child(std::optional<PayloadLists> parent, std::optional<PayloadLists> child) {
    return shaped({0, 1}, {1}, {parent, child});
}

KELNOR_TEST(no_nodes_nothing_happens) {
    Trie trie;
    propagate(trie, 10);
    CHECK_EQ(trie.payloads.size(), std::size_t{0});
}

KELNOR_TEST(absent_payloads_become_empty_ones) {
    Trie trie = shaped({0, 0, 0}, {}, {std::nullopt, std::nullopt, std::nullopt});
    propagate(trie, 10);
    for (std::size_t node = 0; node < 3; ++node) {
        CHECK(trie.payloads.present(node));
        CHECK_EQ(payload_of(trie, node), PayloadLists{});
    }
}

KELNOR_TEST(a_leaf_keeps_its_lists_as_given_only_cut) {
    Trie trie = shaped({0}, {}, {PayloadLists{4, {5, 3, 5}, {1, 9, 2}}});
    propagate(trie, 2);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{4, {5, 3}, {1, 9}}));
}

KELNOR_TEST(a_merge_adds_equal_ids_and_ranks_by_count) {
    Trie trie = parent_and_child(PayloadLists{1, {1}, {4}}, PayloadLists{2, {1, 2}, {1, 7}});
    propagate(trie, 2);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{3, {2, 1}, {7, 5}}));
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{2, {1, 2}, {1, 7}}));
}

KELNOR_TEST(merging_an_empty_child_still_sums_repeated_ids) {
    Trie trie = parent_and_child(PayloadLists{0, {5, 3, 5}, {1, 9, 2}}, std::nullopt);
    propagate(trie, 10);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{0, {3, 5}, {9, 3}}));
}

KELNOR_TEST(top_n_zero_empties_every_list_but_keeps_totals) {
    Trie trie = parent_and_child(PayloadLists{1, {1}, {4}}, PayloadLists{2, {1, 2}, {1, 7}});
    propagate(trie, 0);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{3, {}, {}}));
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{2, {}, {}}));
}

KELNOR_TEST(top_n_of_the_whole_32_bit_range_cuts_nothing) {
    Trie trie = parent_and_child(PayloadLists{1, {1, 2, 3}, {1, 2, 3}}, PayloadLists{2, {4}, {4}});
    propagate(trie, U32_MAX);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{3, {4, 3, 2, 1}, {4, 3, 2, 1}}));
}

KELNOR_TEST(totals_saturate_instead_of_wrapping) {
    Trie trie = parent_and_child(PayloadLists{10, {}, {}}, PayloadLists{4294967290u, {}, {}});
    propagate(trie, 10);
    CHECK_EQ(payload_of(trie, 0).total_count, U32_MAX);

    Trie at_max = parent_and_child(PayloadLists{U32_MAX, {}, {}}, PayloadLists{1, {}, {}});
    propagate(at_max, 10);
    CHECK_EQ(payload_of(at_max, 0).total_count, U32_MAX);
}

// Counts are summed in 64 bits: a video whose sum passes 2^32 outranks one
// that stays at 2^32 - 1, though both are stored as 2^32 - 1.
KELNOR_TEST(count_sums_beyond_32_bits_rank_by_the_full_sum) {
    const auto propagated = [](std::uint32_t top_n) {
        Trie trie = shaped({0, 2, 2}, {1, 2},
                           {PayloadLists{0, {7, 8}, {U32_MAX, U32_MAX}}, PayloadLists{0, {8}, {1}},
                            PayloadLists{0, {8}, {U32_MAX}}});
        propagate(trie, top_n);
        return payload_of(trie, 0);
    };
    CHECK_EQ(propagated(1), (PayloadLists{0, {8}, {U32_MAX}}));
    CHECK_EQ(propagated(2), (PayloadLists{0, {8, 7}, {U32_MAX, U32_MAX}}));
}

KELNOR_TEST(a_child_numbered_below_its_parent_gives_only_its_own_payload) {
    // Node 1 lists node 0 as its child; node 0 lists node 2.
    Trie trie = shaped(
        {0, 1, 2}, {2, 0},
        {PayloadLists{1, {10}, {1}}, PayloadLists{1, {11}, {1}}, PayloadLists{1, {12}, {1}}});
    propagate(trie, 10);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{2, {10, 12}, {1, 1}}));
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{2, {10, 11}, {1, 1}}));
}

KELNOR_TEST(a_child_listed_twice_is_merged_twice) {
    Trie trie = shaped({0, 2}, {1, 1}, {PayloadLists{1, {3}, {1}}, PayloadLists{5, {4}, {2}}});
    propagate(trie, 10);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{11, {4, 3}, {4, 1}}));
}

KELNOR_TEST(a_node_listed_as_its_own_child_is_passed_over) {
    Trie alone = shaped({0}, {0}, {PayloadLists{4, {5, 3, 5}, {1, 9, 2}}});
    propagate(alone, 10);
    CHECK_EQ(payload_of(alone, 0), (PayloadLists{4, {5, 3, 5}, {1, 9, 2}}));

    Trie with_sibling =
        shaped({0, 2}, {0, 1}, {PayloadLists{4, {5}, {1}}, PayloadLists{1, {6}, {3}}});
    propagate(with_sibling, 10);
    CHECK_EQ(payload_of(with_sibling, 0), (PayloadLists{5, {6, 5}, {3, 1}}));
}

KELNOR_TEST(a_node_listed_by_two_parents_is_merged_into_both) {
    Trie trie =
        shaped({0, 2, 3}, {1, 2, 2}, {std::nullopt, std::nullopt, PayloadLists{3, {9}, {3}}});
    propagate(trie, 10);
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{3, {9}, {3}}));
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{6, {9}, {6}}));
}

KELNOR_TEST(equal_counts_rank_by_video_id) {
    Trie trie = parent_and_child(PayloadLists{0, {9, 4}, {3, 3}}, PayloadLists{0, {2}, {3}});
    propagate(trie, 2);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{0, {2, 4}, {3, 3}}));
}

KELNOR_TEST(decreasing_shifts_give_no_children) {
    Trie trie =
        shaped({2, 1, 0}, {1, 2},
               {PayloadLists{1, {1}, {1}}, PayloadLists{2, {2}, {2}}, PayloadLists{3, {3}, {3}}});
    propagate(trie, 10);
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{1, {1}, {1}}));
    // The last node's range runs to the end of child_transitions: [0, 2).
    CHECK_EQ(payload_of(trie, 2), (PayloadLists{5, {3, 2}, {3, 2}}));
}

KELNOR_TEST(a_range_past_the_transitions_fails_at_its_first_missing_position) {
    // Node 0: [1, 3) over two transitions: position 1 is merged, 2 fails.
    Trie trie = shaped({1, 3, 3}, {2, 2}, {std::nullopt, std::nullopt, std::nullopt});
    CHECK_INTERNAL_FAILURE(propagate(trie, 10),
                           "index out of bounds: the len is 2 but the index is 2");

    // A range that starts beyond the end names its start.
    Trie beyond = shaped({5, 7}, {1}, {std::nullopt, std::nullopt});
    CHECK_INTERNAL_FAILURE(propagate(beyond, 10),
                           "index out of bounds: the len is 1 but the index is 5");

    // An empty range whose values lie beyond the end is fine.
    Trie empty_beyond = shaped({9, 9}, {1}, {std::nullopt, std::nullopt});
    propagate(empty_beyond, 10);
    CHECK(empty_beyond.payloads.present(0));

    // The widest shift values do not wrap around.
    Trie widest = shaped({0, U32_MAX}, {}, {std::nullopt, std::nullopt});
    CHECK_INTERNAL_FAILURE(propagate(widest, 10),
                           "index out of bounds: the len is 0 but the index is 0");
}

KELNOR_TEST(assemble_marks_the_given_payloads_as_terminal) {
    const Trie trie =
        built_trie({{U"ab", {5, {0}, {5}}}, {U"a", {1, {1}, {1}}}}, int_videos({7, 9}));
    CHECK_EQ(trie.is_terminal, (std::vector<std::uint8_t>{0, 1, 1}));
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{6, {0, 1}, {5, 1}}));
}

}  // namespace
}  // namespace kelnor::core_test
