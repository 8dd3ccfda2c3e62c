// The video ranking: videos scored by their weighted share of the counts in
// the payloads of the trie nodes that match a query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {

// The weight of a node matched at distance 1 or more is
// (1 - distance / query length) * FUZZY_WEIGHT; an exact match weighs 1.
inline constexpr double FUZZY_WEIGHT = 0.05;
// Applied to the weight of a node where no indexed term ends.
inline constexpr double PREFIX_NODE_FACTOR = 0.85;
// The least score returned when the caller gives none.
inline constexpr double DEFAULT_MIN_SCORE = 0.01;

struct VideoScore {
    std::string video_id;
    double score;

    friend bool operator==(const VideoScore&, const VideoScore&) = default;
};

// Matches `term_utf8` against the trie (terminal nodes, all nodes, or the
// terminal ones falling back to all when none match, as `include_prefix_nodes`
// is true, false or absent), adds up each video's weighted counts over the
// matched payloads and divides by the weighted total counts. Returns the
// videos scoring at least `min_score` (DEFAULT_MIN_SCORE when absent; a NaN
// keeps nothing), best first and equal scores by ascending video position, at
// most `limit` of them; a video whose position lies outside the video table is
// left out after the cut to `limit`. Raises InternalFailure on an index whose
// arrays do not hold the positions it refers to or whose walk goes past its
// budget, and Interrupted when `interrupt` says stop.
std::vector<VideoScore> fuzzy_match_video(const Trie& trie, std::string_view term_utf8,
                                          std::uint32_t max_dist,
                                          std::optional<std::uint32_t> limit,
                                          std::optional<bool> include_prefix_nodes,
                                          std::optional<double> min_score,
                                          const InterruptCheck& interrupt = {});

}  // namespace kelnor
