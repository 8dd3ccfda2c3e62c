// The exact own counts (term_counts.hpp) as bytes to keep beside an image,
// which holds only the payload totals they were cut to: for each node where
// a term ends, in node order, its own count as a variable-length integer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "index/trie/trie.hpp"

namespace kelnor {

// The bytes of `trie`'s own counts. Precondition: trie.term_counts.exact.
std::vector<std::uint8_t> encode_own_counts(const Trie& trie);

// Takes the own counts of `bytes` (as encode_own_counts() wrote them) as the
// exact counts of `trie`, a trie just decoded; or says why they do not fit it
// and leaves the trie as it was.
std::optional<std::string> restore_own_counts(Trie& trie, std::span<const std::uint8_t> bytes);

}  // namespace kelnor
