// Whether a query walk on an arbitrary trie is small enough to run in a fuzz
// iteration.
//
// The walk is bounded only by its depth (query length + bound + 1), so on a
// trie whose child lists repeat nodes or form cycles the number of paths it
// may follow grows exponentially with that depth. That is a property of the
// walk, not a fault; the fuzz targets skip the queries of such inputs so that
// an iteration stays short and the fuzzer keeps looking for faults.
#pragma once

#include <cstddef>
#include <cstdint>

#include "prefix/trie/trie.hpp"

namespace kelnor::fuzz {

// True when every walk for a query of `query_length` characters within
// `max_dist` costs at most about `budget` steps. The estimate follows every
// labelled child through the child ranges without pruning by distance, and
// charges each visit a row of the distance table, the text of a hit and the
// node's payload.
bool walk_fits_budget(const Trie& trie, std::size_t query_length, std::uint32_t max_dist,
                      std::uint64_t budget);

}  // namespace kelnor::fuzz
