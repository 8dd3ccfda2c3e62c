// Taking typed values off the front of a fuzz input.
//
// Every take succeeds: once the input is used up, takes return zeros and
// empty spans, so that any byte string is a complete input and a mutation
// anywhere in it changes values rather than the whole layout.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace kelnor::fuzz {

class FuzzInput {
  public:
    explicit FuzzInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint8_t take_byte() {
        if (bytes_.empty()) return 0;
        const std::uint8_t byte = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return byte;
    }

    // Up to `count` bytes (fewer when the input ends).
    std::span<const std::uint8_t> take_bytes(std::size_t count) {
        const std::span<const std::uint8_t> taken = bytes_.first(std::min(count, bytes_.size()));
        bytes_ = bytes_.subspan(taken.size());
        return taken;
    }

    // A 32-bit value from one byte: mostly small, with the last few byte
    // values standing for the edges of the range, where overflows live.
    std::uint32_t take_u32() {
        constexpr std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
        constexpr std::uint32_t edges[] = {65535, 65536, std::uint32_t{1} << 31, max - 1, max};
        constexpr std::size_t first_edge = 256 - std::size(edges);
        const std::uint8_t byte = take_byte();
        return byte < first_edge ? byte : edges[byte - first_edge];
    }

    // Everything not taken yet.
    std::span<const std::uint8_t> rest() const { return bytes_; }

  private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace kelnor::fuzz
