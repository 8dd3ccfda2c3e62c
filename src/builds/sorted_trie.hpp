// The node arrays of the trie of sorted terms, as the record path lays them
// out: nodes numbered in depth-first pre-order from the root (node 0), each
// node's children in ascending order of their labels, one code point a label.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "builds/internal_data.hpp"

namespace kelnor::columns {

// The arrays of the trie of `sorted_terms` (distinct, non-empty, valid UTF-8,
// in ascending byte order, which is code point order). The node where term k
// ends gets the payload that `push_payload(k, payloads)` pushes; every other
// node none.
InternalData lay_out_sorted_terms(
    std::span<const std::string_view> sorted_terms,
    const std::function<void(std::size_t, PayloadTable&)>& push_payload);

}  // namespace kelnor::columns
