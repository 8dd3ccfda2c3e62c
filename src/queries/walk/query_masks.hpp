// A short query's characters as bit masks, for the bit-parallel rows, and
// the same masks by label byte (walk_index.hpp), for passing over children by
// their label bytes alone.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "index/trie/gram_filter.hpp"
#include "index/trie/walk_index.hpp"

namespace kelnor {

// By label byte: the query mask of the character that the byte spells; for
// byte 0 (no label) no bit, and for LABEL_ELSEWHERE every bit (the label must
// be read in full).
using LabelByteTable = std::array<std::uint64_t, 256>;

class QueryMasks {
  public:
    // Bits 1 to 62 of a mask stand for the query's characters: bit 0 is the
    // empty query prefix of the bit-parallel rows.
    static constexpr std::size_t MAX_LENGTH = 62;

    // Precondition: query.size() <= MAX_LENGTH.
    explicit QueryMasks(std::span<const char32_t> query);

    std::size_t length() const noexcept { return length_; }

    // Bit j + 1 set for every position j of the query holding `character`
    // (label bytes 1 to 254 are the characters U+0001 to U+00FE).
    std::uint64_t of(char32_t character) const noexcept {
        if (character - 1 < LABEL_ELSEWHERE - 1) return label_bytes_[character];
        for (std::size_t k = 0; k < other_count_; ++k) {
            if (other_characters_[k] == character) return other_masks_[k];
        }
        return 0;
    }

    const LabelByteTable& label_bytes() const noexcept { return label_bytes_; }

    // The label byte that spells the query character of mask bit `bit`
    // (1 to length()): LABEL_ELSEWHERE for a character that no byte spells.
    std::uint8_t position_byte(int bit) const noexcept { return position_bytes_[bit]; }

    // What the lookahead (walk_index.hpp) of a node whose path's cells are
    // all at the bound must hold for cell j (below length()) to lead within
    // the bound: the next query character as a child and, as far as the query
    // goes, the two after it as grandchild and great-grandchild.
    std::uint64_t lookahead_after(std::size_t cell) const noexcept {
        return lookahead_after_[cell];
    }

    // The children of top node `parent` (as GramFilter::children) that the
    // three query characters from cell on (cell below length()) may follow
    // by `filter`; every child when fewer than three are left.
    std::uint64_t following_children(const GramFilter& filter, std::size_t parent,
                                     std::size_t cell) const noexcept {
        return cell + 3 > length_ ? ~std::uint64_t{0} : filter.children(parent, grams_[cell]);
    }

  private:
    std::size_t length_;
    LabelByteTable label_bytes_;
    // The query's characters that no label byte stands for.
    std::array<char32_t, MAX_LENGTH> other_characters_;
    std::array<std::uint64_t, MAX_LENGTH> other_masks_;
    std::size_t other_count_ = 0;
    // By cell, set for the cells below length() only (grams_ for those with
    // three characters from them on): clearing the rest took a third of a
    // short query's setup.
    std::array<std::uint64_t, MAX_LENGTH> lookahead_after_;
    std::array<std::uint64_t, MAX_LENGTH> grams_;
    std::array<std::uint8_t, MAX_LENGTH + 1> position_bytes_{};  // by mask bit
};

}  // namespace kelnor
