// The completions of a query, best first, without visiting them all.
//
// A term completes the query when some prefix of it (itself, and the empty
// prefix, included) lies within the bound; its distance is the least such.
// One walk (trie_walk.hpp) finds the nodes within the bound. Along any path
// the least distance so far only falls, so the walk's nodes that lower it
// below every node above them, the seeds, split the completions into
// regions: a seed's subtree less the subtrees of the seeds below it, each
// region at its seed's distance.
//
// A best-first search then takes the regions' nodes in the order of the
// suggestions they can hold: by distance, then by the spelling cost of the
// region's seed (spelling_cost.hpp), then by the best count below them
// (TermCounts::best_below), then by their text, which every text below
// extends. A node is expanded only when nothing better is left, so a query
// whose region holds thirty thousand terms expands little more than the
// paths down to the `limit` best of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/suggest.hpp"
#include "queries/walk/edit_metric.hpp"

namespace kelnor {

// The best `limit` completions of `query` within min(max_dist, 65535) edits
// (nothing: all of them), distances in `metric`, in the order of
// ranks_before() for completions. Raises
// InternalFailure on a damaged index and Interrupted when `interrupt` says
// stop.
std::vector<Suggestion> completions(const Trie& trie, std::span<const char32_t> query,
                                    std::uint32_t max_dist, EditMetric metric,
                                    std::optional<std::uint32_t> limit,
                                    const InterruptCheck& interrupt);

}  // namespace kelnor
