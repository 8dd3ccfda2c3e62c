#include "index/trie/gram_filter.hpp"

#include <algorithm>
#include <bit>

namespace kelnor {
namespace {

// About this many bits per gram keep one test in a few dozen a false yes.
constexpr std::size_t BITS_PER_GRAM = 16;

}  // namespace

GramFilter::GramFilter(std::size_t entries, std::size_t end) : end_(end) {
    constexpr std::size_t LINE_BITS = 8 * sizeof(Line);
    const std::size_t wanted = (entries * BITS_PER_GRAM + LINE_BITS - 1) / LINE_BITS;
    lines_.assign(std::bit_ceil(std::max<std::size_t>(wanted, 1)), Line{});
    line_mask_ = lines_.size() - 1;
}

}  // namespace kelnor
