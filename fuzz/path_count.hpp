// How many paths from the root a query walk may follow, for the fuzz targets
// to leave out the second walk of a query where it would be slow.
//
// Every visit of a walk follows one path from the root, no longer than the
// term plus the bound. On a tree there are no more such paths than nodes, but
// children shared by several parents multiply them: a few dozen nodes can
// hold millions, which the checked walk visits until its budget is spent,
// where the fast walk's filters leave most of them out. At a fraction of a
// microsecond per visit under the sanitizers, that would keep one fuzz input
// busy for seconds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/trie/trie.hpp"

namespace kelnor::fuzz {

// Whether more than `most` labelled paths from the root have at most
// `depth` labels.
bool more_paths_than(const Trie& trie, std::size_t depth, std::uint64_t most);

}  // namespace kelnor::fuzz
