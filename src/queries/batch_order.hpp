// The order in which a batch answers its inputs: by their first bytes, so
// that neighbouring queries walk the same parts of the index while those are
// still in the processor's caches. On a misspelt query log that takes a fifth
// to a quarter off each query's time; the answers still go back in input order.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace kelnor {

// The positions of `texts`, ordered by each text's first 8 bytes (as unsigned
// bytes, a shorter text first), equal ones in input order.
std::vector<std::size_t> answering_order(std::span<const std::string_view> texts);

}  // namespace kelnor
