// The value behind a Python PrefixSearch object: one immutable index.
#pragma once

#include "index/trie/trie.hpp"

namespace kelnor {

struct PrefixSearch {
    Trie trie;
};

}  // namespace kelnor
