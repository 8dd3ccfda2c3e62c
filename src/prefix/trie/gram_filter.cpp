#include "prefix/trie/gram_filter.hpp"

#include <algorithm>
#include <bit>

namespace kelnor {
namespace {

// About this many bits per gram keep one test in a few dozen a false yes.
constexpr std::size_t kBitsPerGram = 16;

}  // namespace

GramFilter::GramFilter(std::size_t entries, std::size_t end) : end_(end) {
    constexpr std::size_t kLineBits = 8 * sizeof(Line);
    const std::size_t wanted = (entries * kBitsPerGram + kLineBits - 1) / kLineBits;
    lines_.assign(std::bit_ceil(std::max<std::size_t>(wanted, 1)), Line{});
    line_mask_ = lines_.size() - 1;
}

}  // namespace kelnor
