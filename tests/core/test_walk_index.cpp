// The walk index: every fact it derives checked against the Trie's own
// arrays on random tries, and the fast walk that reads it checked against the
// checked walk (which reads the arrays alone) on the same queries.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"
#include "check.hpp"
#include "index/trie/trie.hpp"
#include "index/trie/walk_index.hpp"
#include "queries/walk/trie_walk.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

using Hits = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Labels 1 to 254 fit a label byte; the others are read from child_labels.
const std::u32string ALPHABET = U"abcdeé\u4e2d\u00ff\u0100";

std::u32string random_word(std::mt19937& random, std::size_t alphabet, std::size_t longest) {
    std::u32string word(std::uniform_int_distribution<std::size_t>(0, longest)(random), U'a');
    for (char32_t& character : word) {
        character = ALPHABET[std::uniform_int_distribution<std::size_t>(0, alphabet - 1)(random)];
    }
    return word;
}

Trie random_trie(std::uint32_t seed, std::size_t words, std::size_t alphabet, std::size_t longest) {
    std::mt19937 random(seed);
    std::vector<TermEntry> entries;
    for (std::size_t k = 0; k < words; ++k) {
        entries.push_back({random_word(random, alphabet, longest), PayloadLists{}});
    }
    return built_trie(entries);
}

std::vector<std::uint32_t> children(const Trie& trie, std::uint32_t node) {
    const ChildRange range = child_range(trie, node);
    return {trie.child_transitions.begin() + static_cast<std::ptrdiff_t>(range.begin),
            trie.child_transitions.begin() + static_cast<std::ptrdiff_t>(range.end)};
}

std::vector<std::uint32_t> labelled_children(const Trie& trie, std::uint32_t node) {
    std::vector<std::uint32_t> labelled;
    for (const std::uint32_t child : children(trie, node)) {
        if (trie.child_labels[child] != 0) labelled.push_back(child);
    }
    return labelled;
}

std::uint8_t expected_label_byte(char32_t label) {
    return label < LABEL_ELSEWHERE ? static_cast<std::uint8_t>(label) : LABEL_ELSEWHERE;
}

// The most labels a path adds below `node`, in a tree.
unsigned expected_height(const Trie& trie, std::uint32_t node) {
    unsigned height = 0;
    for (const std::uint32_t child : labelled_children(trie, node)) {
        height = std::max(height, expected_height(trie, child) + 1);
    }
    return height;
}

// Every bit that the paths of one to three labels below `node` call for.
std::uint64_t expected_lookahead(const Trie& trie, std::uint32_t node) {
    std::uint64_t bits = 0;
    for (const std::uint32_t child : labelled_children(trie, node)) {
        const char32_t first = trie.child_labels[child];
        bits |= child_lookahead(first);
        for (const std::uint32_t grandchild : labelled_children(trie, child)) {
            const char32_t second = trie.child_labels[grandchild];
            bits |= grandchild_lookahead(first, second);
            for (const std::uint32_t below : labelled_children(trie, grandchild)) {
                bits |= great_grandchild_lookahead(first, second, trie.child_labels[below]);
            }
        }
    }
    return bits;
}

void check_edges(const Trie& trie) {
    const WalkIndex& index = trie.walk_index;
    const std::size_t edges = trie.child_transitions.size();
    CHECK_EQ(index.edge_bytes.size(), 2 * edges + LABEL_PADDING);
    for (std::size_t node = 0; node < trie.node_shifts.size(); ++node) {
        const ChildRange children = child_range(trie, node);
        const std::uint8_t* labels = index.edge_bytes.labels(children.begin);
        const std::uint8_t* heights = index.edge_bytes.heights(children.end);
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::uint32_t child = trie.child_transitions[position];
            CHECK_EQ(labels[position], expected_label_byte(trie.child_labels[child]));
            const unsigned height =
                std::min(expected_height(trie, child), unsigned{UNKNOWN_HEIGHT});
            CHECK_EQ(unsigned{heights[position]}, height);
        }
    }
    const std::uint8_t* padding = index.edge_bytes.heights(edges);
    for (std::size_t position = edges; position < edges + LABEL_PADDING; ++position) {
        CHECK_EQ(padding[position], std::uint8_t{0});
    }
}

// The top: the root, then level after level of labelled children in
// child_transitions order, whole levels only, and each node's facts.
void check_top(const Trie& trie) {
    const WalkIndex& index = trie.walk_index;
    CHECK(index.top.size() >= 2);
    const std::size_t top_nodes = index.top.size() - 1;
    CHECK(top_nodes < MAX_TOP_NODES);
    CHECK(top_nodes <= trie.node_shifts.size());
    CHECK_EQ(index.top_bytes.size(), 2 * top_nodes + LABEL_PADDING);
    CHECK_EQ(index.top[0].node, std::uint32_t{0});
    std::vector<std::uint32_t> expected_order{0};
    for (std::size_t k = 0; k < index.inner_top; ++k) {
        const std::vector<std::uint32_t> below = labelled_children(trie, expected_order[k]);
        CHECK_EQ(index.top[k].first_child, static_cast<std::uint32_t>(expected_order.size()));
        expected_order.insert(expected_order.end(), below.begin(), below.end());
    }
    CHECK_EQ(expected_order.size(), top_nodes);
    std::size_t next_level = 0;
    for (std::size_t k = index.inner_top; k < top_nodes; ++k) {
        CHECK_EQ(index.top[k].first_child, static_cast<std::uint32_t>(top_nodes));
        next_level += labelled_children(trie, expected_order[k]).size();
    }
    // The level below was left out because it would not fit.
    if (next_level > 0) {
        CHECK(top_nodes + next_level >= std::min(MAX_TOP_NODES, trie.node_shifts.size() + 1));
    }
    CHECK_EQ(index.top.back().first_child, static_cast<std::uint32_t>(top_nodes));
    for (std::size_t k = 0; k < top_nodes; ++k) {
        const std::uint32_t node = expected_order[k];
        CHECK_EQ(index.top[k].node, node);
        CHECK_EQ(index.top[k].lookahead, expected_lookahead(trie, node));
    }
    for (std::size_t k = 0; k < index.inner_top; ++k) {
        const std::size_t first = index.top[k].first_child;
        const std::size_t end = index.top[k + 1].first_child;
        for (std::size_t child = first; child < end; ++child) {
            const std::uint32_t node = expected_order[child];
            CHECK_EQ(index.top_bytes.labels(first)[child],
                     expected_label_byte(trie.child_labels[node]));
            CHECK_EQ(unsigned{index.top_bytes.heights(end)[child]}, expected_height(trie, node));
        }
    }
}

// The walk's hits as (node, distance) pairs.
Hits node_hits(const Trie& trie, std::u32string_view query, std::uint32_t bound, bool terminal_only,
               std::optional<std::uint32_t> limit, EditMetric metric = EditMetric::levenshtein) {
    Hits hits;
    walk_within_distance(
        trie, query, bound, metric, limit, InterruptCheck{},
        [&](std::uint32_t node, std::uint32_t distance, std::span<const char32_t>, char32_t) {
            if (terminal_only && !checked_at(trie.is_terminal, node)) return false;
            hits.emplace_back(node, distance);
            return true;
        });
    return hits;
}

constexpr EditMetric METRICS[] = {EditMetric::levenshtein, EditMetric::optimal_string_alignment};

// The same trie without its walk index: the matchers read its arrays alone.
Trie without_walk_index(const Trie& trie) {
    Trie plain = trie;
    plain.walk_index = WalkIndex{};
    return plain;
}

// Both walks give the same nodes in the same order, in both metrics, for
// words of the trie's alphabet, and for those words with random edits.
void check_walks_agree(const Trie& trie, std::uint32_t seed, std::size_t alphabet,
                       std::size_t queries) {
    CHECK(trie.walk_index.sound);
    const Trie plain = without_walk_index(trie);
    std::mt19937 random(seed);
    for (std::size_t k = 0; k < queries; ++k) {
        const std::u32string query = random_word(random, alphabet, 9);
        for (std::uint32_t bound = 0; bound <= 3; ++bound) {
            for (const EditMetric metric : METRICS) {
                for (const bool terminal_only : {false, true}) {
                    CHECK_EQ(node_hits(trie, query, bound, terminal_only, std::nullopt, metric),
                             node_hits(plain, query, bound, terminal_only, std::nullopt, metric));
                }
                CHECK_EQ(node_hits(trie, query, bound, false, 3u, metric),
                         node_hits(plain, query, bound, false, 3u, metric));
            }
        }
    }
}

// Labelled nodes at depths 1 to `depth` below `node`, in a tree.
std::size_t nodes_down_to(const Trie& trie, std::uint32_t node, std::size_t depth) {
    std::size_t count = 0;
    for (const std::uint32_t child : labelled_children(trie, node)) {
        if (depth > 0) count += 1 + nodes_down_to(trie, child, depth - 1);
    }
    return count;
}

// The gram filter covers the children of the top nodes of the first levels
// (of a tree, whose budget never runs out) and lets through every three
// labels that follow one of them, while ruling out most of the others.
void check_grams(const Trie& trie, std::mt19937& random) {
    const WalkIndex& index = trie.walk_index;
    const std::size_t parents = 1 + nodes_down_to(trie, 0, FILTERED_LEVELS - 1);
    CHECK_EQ(index.grams.end(), std::min(parents, index.inner_top));
    std::size_t absent = 0;
    std::size_t let_through = 0;
    for (std::size_t parent = 0; parent < index.grams.end(); ++parent) {
        const std::size_t first = index.top[parent].first_child;
        for (std::size_t child = first; child < index.top[parent + 1].first_child; ++child) {
            const auto may_follow = [&](const std::u32string& gram) {
                const std::uint64_t children =
                    index.grams.children(parent, gram_of(gram[0], gram[1], gram[2]));
                return (children >> ((child - first) % 64) & 1) != 0;
            };
            std::set<std::u32string> below;
            for (const std::uint32_t second : labelled_children(trie, index.top[child].node)) {
                for (const std::uint32_t third : labelled_children(trie, second)) {
                    for (const std::uint32_t fourth : labelled_children(trie, third)) {
                        below.insert({trie.child_labels[second], trie.child_labels[third],
                                      trie.child_labels[fourth]});
                    }
                }
            }
            for (const std::u32string& gram : below) {
                CHECK(may_follow(gram));
            }
            for (int attempt = 0; attempt < 20; ++attempt) {
                const std::u32string gram = random_word(random, ALPHABET.size(), 3);
                if (gram.size() < 3 || below.count(gram) > 0) continue;
                ++absent;
                let_through += may_follow(gram);
            }
        }
    }
    CHECK(let_through * 10 <= absent);
}

KELNOR_TEST(random_tries_index_their_labels_heights_and_top) {
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        const std::size_t alphabet = 2 + seed % (ALPHABET.size() - 1);
        const Trie trie = random_trie(seed, 20 + 15 * seed, alphabet, 3 + seed % 8);
        CHECK(trie.walk_index.sound);
        check_edges(trie);
        check_top(trie);
        std::mt19937 random(seed);
        check_grams(trie, random);
        check_walks_agree(trie, seed + 100, alphabet, 40);
    }
}

// 400 first labels, each followed by the same 400 second labels: the second
// level alone holds more than the top can, so the top is the root and the
// first level, and the walk reads the Trie below it.
KELNOR_TEST(the_top_ends_before_a_level_it_cannot_hold) {
    std::vector<TermEntry> entries;
    for (char32_t first = 1; first <= 400; ++first) {
        for (char32_t second = 1; second <= 400; ++second) {
            entries.push_back({std::u32string{first, second}, PayloadLists{}});
        }
    }
    const Trie trie = built_trie(entries);
    CHECK_EQ(trie.walk_index.inner_top, std::size_t{1});
    CHECK_EQ(trie.walk_index.top.size(), std::size_t{402});
    CHECK_EQ(trie.walk_index.grams.end(), std::size_t{1});
    check_top(trie);
    const Trie plain = without_walk_index(trie);
    for (const std::u32string query :
         {U"ab", U"\u00fe\u00ff", U"\u0100\u0101", U"a", U"\u018f\u0190x", U""}) {
        for (std::uint32_t bound = 0; bound <= 2; ++bound) {
            for (const EditMetric metric : METRICS) {
                CHECK_EQ(node_hits(trie, query, bound, true, std::nullopt, metric),
                         node_hits(plain, query, bound, true, std::nullopt, metric));
            }
        }
    }
}

// Children numbered below their parent: heights are unknown, which never
// leaves a subtree out, and the walks still agree.
KELNOR_TEST(a_child_numbered_below_its_parent_makes_every_height_unknown) {
    Trie trie = random_trie(7, 60, 4, 6);
    const auto node_count = static_cast<std::uint32_t>(trie.node_shifts.size());
    // Reverse the numbering: node n becomes node_count - 1 - n, the root stays 0
    // by swapping it with the new number of the old root.
    std::vector<std::uint32_t> renumber(node_count);
    for (std::uint32_t node = 0; node < node_count; ++node) renumber[node] = node_count - 1 - node;
    std::swap(renumber[0], renumber[node_count - 1]);
    Trie reversed;
    reversed.is_terminal.assign(node_count, 0);
    reversed.child_labels.assign(node_count, 0);
    reversed.payloads = payload_table(std::vector<std::optional<PayloadLists>>(node_count));
    std::vector<std::vector<std::uint32_t>> child_lists(node_count);
    for (std::uint32_t node = 0; node < node_count; ++node) {
        reversed.child_labels[renumber[node]] = trie.child_labels[node];
        reversed.is_terminal[renumber[node]] = trie.is_terminal[node];
        for (const std::uint32_t child : children(trie, node)) {
            child_lists[renumber[node]].push_back(renumber[child]);
        }
    }
    for (const std::vector<std::uint32_t>& list : child_lists) {
        reversed.node_shifts.push_back(
            static_cast<std::uint32_t>(reversed.child_transitions.size()));
        reversed.child_transitions.insert(reversed.child_transitions.end(), list.begin(),
                                          list.end());
    }
    reversed.walk_index = walk_index_of(reversed);
    CHECK(reversed.walk_index.sound);
    const WalkIndex& index = reversed.walk_index;
    for (std::size_t k = 0; k < index.inner_top; ++k) {
        const std::size_t end = index.top[k + 1].first_child;
        for (std::size_t child = index.top[k].first_child; child < end; ++child) {
            CHECK_EQ(index.top_bytes.heights(end)[child], UNKNOWN_HEIGHT);
        }
    }
    check_walks_agree(reversed, 8, 4, 60);
}

// Nodes that share their children make the paths below them many: once the
// lookaheads' budget is spent they hold every bit, and the walks agree.
KELNOR_TEST(shared_children_spend_the_lookahead_budget_safely) {
    // 40 levels of 4 nodes labelled a to d, each node listing all 4 nodes of
    // the next level as its children: 4^40 paths.
    constexpr std::uint32_t LEVELS = 40;
    constexpr std::uint32_t WIDTH = 4;
    constexpr std::uint32_t NODES = 1 + WIDTH * LEVELS;
    Trie trie;
    trie.is_terminal.assign(NODES, 1);
    trie.payloads = payload_table(std::vector<std::optional<PayloadLists>>(NODES));
    trie.child_labels.assign(NODES, 0);
    for (std::uint32_t node = 1; node < NODES; ++node) {
        trie.child_labels[node] = U'a' + (node - 1) % WIDTH;
    }
    for (std::uint32_t node = 0; node < NODES; ++node) {
        trie.node_shifts.push_back(static_cast<std::uint32_t>(trie.child_transitions.size()));
        const std::uint32_t level = node == 0 ? 0 : (node - 1) / WIDTH + 1;
        for (std::uint32_t k = 0; level < LEVELS && k < WIDTH; ++k) {
            trie.child_transitions.push_back(1 + level * WIDTH + k);
        }
    }
    trie.walk_index = walk_index_of(trie);
    const WalkIndex& index = trie.walk_index;
    CHECK(index.sound);
    CHECK(index.top.size() <= NODES + 2);
    CHECK_EQ(index.top[index.top.size() - 2].lookahead, ~std::uint64_t{0});
    // The first level alone has more paths of three below it than the trie
    // has nodes: no node is filtered.
    CHECK_EQ(index.grams.end(), std::size_t{0});
    const Trie plain = without_walk_index(trie);
    for (const std::u32string query :
         {U"ab", U"abba", U"dddddddddddddddddddddddddddddddddddddddddd",
          U"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaae"}) {
        for (std::uint32_t bound = 0; bound <= 1; ++bound) {
            for (const EditMetric metric : METRICS) {
                CHECK_EQ(node_hits(trie, query, bound, false, 50u, metric),
                         node_hits(plain, query, bound, false, 50u, metric));
            }
        }
    }
}

// Child runs that overlap cannot have their label bytes grouped by parent:
// such a trie is left to the checked walk, which answers from the arrays.
KELNOR_TEST(overlapping_child_runs_leave_the_trie_to_the_checked_walk) {
    // The root's run holds nodes 1 to 3 (a, b, c); node 2's run starts inside
    // it and holds nodes 3 to 5 (c, d, e): the paths are a, b, c, bc, bd, be.
    Trie trie;
    trie.node_shifts = {0, 3, 2, 5, 5, 5};
    trie.child_transitions = {1, 2, 3, 4, 5};
    trie.child_labels = {0, U'a', U'b', U'c', U'd', U'e'};
    trie.is_terminal.assign(6, 1);
    trie.payloads = payload_table(std::vector<std::optional<PayloadLists>>(6));
    trie.walk_index = walk_index_of(trie);
    CHECK(!trie.walk_index.sound);
    CHECK_EQ(node_hits(trie, U"bd", 0, false, std::nullopt), (Hits{{4, 0}}));
    CHECK_EQ(node_hits(trie, U"cd", 1, false, std::nullopt), (Hits{{4, 1}, {3, 1}}));
}

}  // namespace
}  // namespace kelnor::core_test
