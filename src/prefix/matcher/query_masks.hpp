// A short query's characters as bit masks, for the bit-parallel rows, and the
// label byte table of its walk (label_filter.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "prefix/matcher/label_filter.hpp"
#include "prefix/trie/walk_index.hpp"

namespace kelnor {

class QueryMasks {
  public:
    // Bits 1 to 62 of a mask stand for the query's characters: bit 0 and bit
    // 63 are the label filter's.
    static constexpr std::size_t kMaxLength = 62;

    // Precondition: query.size() <= kMaxLength.
    explicit QueryMasks(std::span<const char32_t> query);

    std::size_t length() const noexcept { return length_; }

    // Bit j + 1 set for every position j of the query holding `character`
    // (label bytes 1 to 254 are the characters U+0001 to U+00FE).
    std::uint64_t of(char32_t character) const noexcept {
        if (character - 1 < kLabelElsewhere - 1) return label_bytes_[character] & ~kLabelledBit;
        for (std::size_t k = 0; k < other_count_; ++k) {
            if (other_characters_[k] == character) return other_masks_[k];
        }
        return 0;
    }

    const LabelByteTable& label_bytes() const noexcept { return label_bytes_; }

  private:
    std::size_t length_;
    LabelByteTable label_bytes_;
    // The query's characters that no label byte stands for.
    std::array<char32_t, kMaxLength> other_characters_;
    std::array<std::uint64_t, kMaxLength> other_masks_;
    std::size_t other_count_ = 0;
};

}  // namespace kelnor
