// Passing over a node's children by their label bytes (walk_index.hpp), one
// table lookup each, before any row is computed.
//
// A row's continuation() tells which labels can continue its path:
// kAnyContinuation, or a set of query positions (bits 1 to 62) that a
// label's query mask (QueryMasks::of) must meet. A frame turns it into a
// filter word, and a child passes when the entry of its label byte in the
// walk's LabelByteTable meets the filter:
// - every entry but that of byte 0 (no label) holds kLabelledBit, which the
//   filter of kAnyContinuation holds: every labelled child passes;
// - the entry of a label byte also holds the label's query mask, which meets
//   a narrowing continuation exactly when the label can continue the path;
// - the entry of kLabelElsewhere holds every bit, and every filter holds
//   kLookCloserBit: the child passes, and its label is read in full.
// A child that passes still has its row computed, which decides.
#pragma once

#include <array>
#include <cstdint>

namespace kelnor {

inline constexpr std::uint64_t kAnyContinuation = ~std::uint64_t{0};
inline constexpr std::uint64_t kLabelledBit = 1;
inline constexpr std::uint64_t kLookCloserBit = std::uint64_t{1} << 63;

using LabelByteTable = std::array<std::uint64_t, 256>;

inline std::uint64_t label_filter(std::uint64_t continuation) noexcept {
    return continuation == kAnyContinuation ? kLabelledBit | kLookCloserBit
                                            : continuation | kLookCloserBit;
}

}  // namespace kelnor
