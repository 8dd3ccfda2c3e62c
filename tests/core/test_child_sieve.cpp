// The child sieve against its definition: a child passes matching() exactly
// when its label byte's table entry meets the continuation and it is high
// enough, whether the sieve compares bytes or looks them up.
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "check.hpp"
#include "index/trie/walk_index.hpp"
#include "queries/walk/child_sieve.hpp"
#include "queries/walk/query_masks.hpp"

namespace kelnor::core_test {
namespace {

// Room for 64 children and the padding that the sieve may read past them.
using Bytes = std::array<std::uint8_t, 64 + LABEL_PADDING>;

struct Children {
    Bytes labels{};
    Bytes heights{};
    std::size_t count = 0;
};

// Label bytes drawn mostly from the query's, with no label, LABEL_ELSEWHERE
// and bytes that spell no query character among them.
Children random_children(std::mt19937& random, const std::u32string& query) {
    Children children;
    children.count = std::uniform_int_distribution<std::size_t>(1, 64)(random);
    for (std::size_t k = 0; k < children.count; ++k) {
        const auto pick = std::uniform_int_distribution<std::size_t>(0, query.size() + 3)(random);
        std::uint8_t label = pick < query.size() && query[pick] < LABEL_ELSEWHERE
                                 ? static_cast<std::uint8_t>(query[pick])
                             : pick == query.size()     ? 0
                             : pick == query.size() + 1 ? LABEL_ELSEWHERE
                                                        : static_cast<std::uint8_t>('z');
        children.labels[k] = label;
        children.heights[k] = static_cast<std::uint8_t>(random() % 12);
    }
    return children;
}

std::uint64_t expected_matching(const QueryMasks& masks, const Children& children,
                                std::uint64_t continuation, std::uint8_t least_height) {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < children.count; ++k) {
        const bool passes = (masks.label_bytes()[children.labels[k]] & continuation) != 0 &&
                            children.heights[k] >= least_height;
        bits |= static_cast<std::uint64_t>(passes) << k;
    }
    return bits;
}

std::uint64_t expected_labelled(const Children& children, std::uint8_t least_height) {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < children.count; ++k) {
        const bool passes = children.labels[k] != 0 && children.heights[k] >= least_height;
        bits |= static_cast<std::uint64_t>(passes) << k;
    }
    return bits;
}

KELNOR_TEST(the_sieve_passes_the_children_its_definition_does) {
    std::mt19937 random(7);
    // Repeated characters, one that no label byte spells, and a query of the
    // longest length, whose positions reach bit 62.
    const std::u32string queries[] = {
        U"abcabd", U"x\u4e2dyx", std::u32string(62, U'q'),
        U"abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz0123456789"};
    for (const std::u32string& query : queries) {
        const QueryMasks masks(query);
        const ChildSieve sieve(masks);
        const std::uint64_t positions = ((std::uint64_t{1} << query.size()) - 1) << 1;
        for (int trial = 0; trial < 400; ++trial) {
            const Children children = random_children(random, query);
            const auto least_height = static_cast<std::uint8_t>(random() % 10);
            // From one position to many more than the sieve compares.
            std::uint64_t continuation = 0;
            const int wanted = 1 + static_cast<int>(random() % 8);
            for (int k = 0; k < wanted; ++k) {
                continuation |= std::uint64_t{1} << (1 + random() % query.size());
            }
            continuation &= positions;
            const std::uint64_t expected =
                expected_matching(masks, children, continuation, least_height);
            CHECK_EQ(sieve.matching<3>(continuation, children.labels.data(),
                                       children.heights.data(), least_height, children.count),
                     expected);
            CHECK_EQ(sieve.matching<5>(continuation, children.labels.data(),
                                       children.heights.data(), least_height, children.count),
                     expected);
            CHECK_EQ(ChildSieve::labelled(children.labels.data(), children.heights.data(),
                                          least_height, children.count),
                     expected_labelled(children, least_height));
        }
    }
}

}  // namespace
}  // namespace kelnor::core_test
