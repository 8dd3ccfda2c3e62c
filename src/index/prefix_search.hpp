// The value behind a Python PrefixSearch object: one immutable index.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "index/trie/trie.hpp"
#include "index/word_starts.hpp"

namespace kelnor {

// For an index of folded terms: by folded term, the original spelling to
// show for it, where that is not the folded term itself.
using TermSpellings = std::unordered_map<std::string, std::string>;

struct PrefixSearch {
    Trie trie;
    // Set when the index's terms were folded: what is typed is to be folded
    // the same way before it is looked up, and suggestions show the spellings.
    std::optional<TermSpellings> folding;
    // Present on an index whose phrases are found from any word; derived
    // from `trie` (builds/word_starts_build.hpp), shared by its copies.
    std::shared_ptr<const WordStarts> word_starts = nullptr;
};

}  // namespace kelnor
