// The value behind a Python PrefixSearch object: one immutable index.
#pragma once

#include <memory>

#include "index/trie/trie.hpp"
#include "index/word_starts.hpp"

namespace kelnor {

struct PrefixSearch {
    Trie trie;
    // Present on an index whose phrases are found from any word; derived
    // from `trie` (builds/word_starts_build.hpp), shared by its copies.
    std::shared_ptr<const WordStarts> word_starts = nullptr;
};

}  // namespace kelnor
