// The characters of a query term, decoded only as far as a walk can use them.
//
// A node at depth d is at least (query length - d) edits from the query, so
// a term longer than the trie's deepest path plus the bound matches nothing.
// Where the deepest path is known (WalkIndex::deepest), such a term is
// recognised after deepest + bound + 1 characters, however long the rest:
// a long term costs no more than a short one.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "index/trie/trie.hpp"

namespace kelnor {

// The characters of `term_utf8` (see decode_utf8), or nothing when no node
// of `trie` can be within min(max_dist, 65535) edits of it.
std::optional<std::vector<char32_t>> walk_query(const Trie& trie, std::string_view term_utf8,
                                                std::uint32_t max_dist);

}  // namespace kelnor
