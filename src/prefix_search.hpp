// The value behind a Python PrefixSearch object: one immutable index.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "prefix/matcher/suggest.hpp"
#include "prefix/trie/trie.hpp"

namespace kelnor {

// For an index of folded terms: by folded term, the original spelling to
// show for it, where that is not the folded term itself.
using TermSpellings = std::unordered_map<std::string, std::string>;

struct PrefixSearch {
    Trie trie;
    // Set when the index's terms were folded: what is typed is to be folded
    // the same way before it is looked up, and suggestions show the spellings.
    std::optional<TermSpellings> folding;
};

// Puts the spelling of `search`'s folding in place of each suggestion's
// folded term that has one; the order stays that of the folded terms.
void show_spellings(const PrefixSearch& search, std::vector<Suggestion>& suggestions);

}  // namespace kelnor
