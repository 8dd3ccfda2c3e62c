// Which three labels follow the children of the shallowest nodes of the top
// (walk_index.hpp), as a blocked Bloom filter over (parent top node, three
// labels, child).
//
// A node of the first levels has so many great-grandchildren that its 64-bit
// lookahead holds nearly every bit and rules nothing out, yet these are the
// nodes that every query offers as candidates once its edits are spent. The
// filter tells, for a parent and three labels, which of the parent's children
// they surely do not follow as child, grandchild and great-grandchild: it
// never rules out a child that they follow, and lets through one that they do
// not about once in a few dozen.
//
// Blocked: all that the filter holds of one parent and three labels lies in
// two words of one 64-byte line, a bit per child (by its place among the
// parent's children, modulo 64), so that one read tells it for all the
// children at once.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelnor {

// What the filter keeps of three labels, whichever node they follow.
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

    // A filter that covers no parent.
    GramFilter() = default;

    // A filter of the children of parents below `end`, with room for
    // `entries` (parent, gram, child), that rules out every child.
    GramFilter(std::size_t entries, std::size_t end);

    // Lets `gram` follow the parent's child at place `child` among its
    // children.
    void add(std::size_t parent, std::uint64_t gram, std::size_t child) noexcept {
        const Place place = place_of(parent, gram);
        const std::uint64_t bit =
            std::rotl(std::uint64_t{1}, static_cast<int>(child % 64 + place.turn));
        Line& line = lines_[place.line];
        line.words[place.first_word] |= bit;
        line.words[place.second_word] |= bit;
    }

    // The parent's children that `gram` may follow, bit i for each child at
    // place i modulo 64 among the parent's children; a child whose bit is
    // clear surely has no such three labels below it.
    std::uint64_t children(std::size_t parent, std::uint64_t gram) const noexcept {
        const Place place = place_of(parent, gram);
        const Line& line = lines_[place.line];
        return std::rotr(line.words[place.first_word] & line.words[place.second_word],
                         static_cast<int>(place.turn));
    }

    // The children of the parents below this one are filtered.
    std::size_t end() const noexcept { return end_; }

  private:
    struct Place {
        std::size_t line;
        unsigned first_word;
        unsigned second_word;  // never the first
        unsigned turn;         // how far the children's bits are turned in the words
    };

    Place place_of(std::size_t parent, std::uint64_t gram) const noexcept {
        const std::uint64_t key =
            (gram ^ (std::uint64_t{parent} * 0xD6E8FEB86659FD93u)) * 0x9E3779B97F4A7C15u;
        const auto first_word = static_cast<unsigned>(key >> 61);
        return {static_cast<std::size_t>(key >> 20) & line_mask_, first_word,
                first_word ^ ((static_cast<unsigned>(key >> 58) & 7u) | 1u),
                static_cast<unsigned>(key >> 52) & 63u};
    }

    std::vector<Line> lines_;
    std::size_t line_mask_ = 0;
    std::size_t end_ = 0;
};

}  // namespace kelnor
