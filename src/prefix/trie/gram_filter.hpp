// Which three labels follow the shallowest nodes of the top (walk_index.hpp),
// as a blocked Bloom filter over (top node, label, label, label).
//
// A node of the first levels has so many great-grandchildren that its 64-bit
// lookahead holds nearly every bit and rules nothing out, yet these are the
// nodes that every query offers as candidates once its edits are spent. The
// filter tells, for such a top node and three labels, whether they surely do
// not follow the node as child, grandchild and great-grandchild: it never
// says no for three that do, and says yes for three that do not about once
// in a few dozen.
//
// Blocked: the labels that follow a top node after the same first label set
// bits of one 64-byte line only, so one test reads one cache line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelnor {

// What the filter keeps of three labels, whichever top node they follow.
inline std::uint64_t gram_of(char32_t first, char32_t second, char32_t third) noexcept {
    std::uint64_t gram = (std::uint64_t{first} * 0x9E3779B97F4A7C15u) ^ second;
    gram = (gram * 0xC2B2AE3D27D4EB4Fu) ^ third;
    return gram * 0x165667B19E3779F9u;
}

class GramFilter {
  public:
    struct alignas(64) Line {
        std::uint64_t words[8];
    };

    // A filter that covers no top node.
    GramFilter() = default;

    // A filter of top nodes below `end` with room for `entries` grams, all
    // of whose tests say no.
    GramFilter(std::size_t entries, std::size_t end);

    void add(std::size_t top_node, char32_t first, std::uint64_t gram) noexcept {
        Line& line = lines_[line_of(top_node, first)];
        const std::uint64_t bits = bits_of(top_node, gram);
        line.words[(bits >> 6) & 7] |= std::uint64_t{1} << (bits & 63);
        line.words[(bits >> 15) & 7] |= std::uint64_t{1} << ((bits >> 9) & 63);
    }

    // False when the labels of `gram`, the first of which is `first`, surely
    // do not follow the top node; true when they may.
    bool may_follow(std::size_t top_node, char32_t first, std::uint64_t gram) const noexcept {
        const Line& line = lines_[line_of(top_node, first)];
        const std::uint64_t bits = bits_of(top_node, gram);
        return (line.words[(bits >> 6) & 7] >> (bits & 63) &
                line.words[(bits >> 15) & 7] >> ((bits >> 9) & 63) & 1) != 0;
    }

    // The top nodes below this one are filtered.
    std::size_t end() const noexcept { return end_; }

  private:
    std::size_t line_of(std::size_t top_node, char32_t first) const noexcept {
        const std::uint64_t key = (std::uint64_t{top_node} << 32) ^ first;
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 32) & line_mask_;
    }

    // Two bit positions of 9 bits each, in the low 18 bits.
    static std::uint64_t bits_of(std::size_t top_node, std::uint64_t gram) noexcept {
        return ((gram ^ top_node) * 0xD6E8FEB86659FD93u) >> 46;
    }

    std::vector<Line> lines_;
    std::size_t line_mask_ = 0;
    std::size_t end_ = 0;
};

}  // namespace kelnor
