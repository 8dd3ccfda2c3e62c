// Whether a query walk on an arbitrary trie can go round a cycle.
//
// The walk budget bounds the visits of any walk, but around a cycle a walk
// goes as deep as the term's length plus the bound, and each hit's text is as
// long as its depth: at the widest bounds the texts alone would keep a fuzz
// iteration busy for minutes. The fuzz targets run such queries at small
// bounds only.
#pragma once

#include "index/trie/trie.hpp"

namespace kelnor::fuzz {

// True when the labelled children that a walk can read lead from the root
// back to a node on the way.
bool has_reachable_cycle(const Trie& trie);

}  // namespace kelnor::fuzz
