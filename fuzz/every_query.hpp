// Every kind of query on one index, with the checks that any answer must
// pass, for the fuzz targets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_input.hpp"
#include "index/trie/trie.hpp"

namespace kelnor::fuzz {

struct QueryParameters {
    std::string term;  // any bytes, valid UTF-8 or not
    std::uint32_t max_dist = 1;
    std::optional<std::uint32_t> limit;
    std::optional<double> min_score;
};

// Four selector bytes (max_dist, limit, min_score, term length), then the
// term's bytes (at most 16).
QueryParameters take_query_parameters(FuzzInput& input);

// Whether the index may break the invariants that the queries rely on (a
// restored image) or is known to keep them (a successful build).
enum class Damage { Possible, Impossible };

// Runs fuzzy_match, fuzzy_match_nodes with and without terminal_only, the
// walk of every node with swaps (EditMetric::optimal_string_alignment), and
// fuzzy_match_video with include_prefix_nodes absent, true and false, and
// search of the term's words; on a
// sound index, where the fast walk answers, runs them all again on the
// checked walk (trie_walk.hpp), unless that would take long (path_count.hpp). On a possibly damaged
// index a query may raise InternalFailure, and on any index WalkBudgetSpent; any other exception
// escapes. Aborts with a message when an answer is wrong: a distance beyond
// the bound, more hits than the limit, invalid UTF-8, the term and node
// matchers disagreeing, a hit without swaps that the walk with swaps misses
// or finds farther, scores out of order or below min_score, or the two
// walks answering differently. Queries at wide bounds on tries with cycles
// are skipped (see reachable_cycle.hpp).
void run_every_query(const Trie& trie, const QueryParameters& query, Damage damage);

// Reports a finding and aborts, so that the fuzzer records the input.
[[noreturn]] void finding(const char* what);

}  // namespace kelnor::fuzz
