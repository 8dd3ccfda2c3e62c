// The video ranking: videos scored by their weighted share of the counts in
// the payloads of the trie nodes that match a query.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/walk/edit_metric.hpp"

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
    // How many of the ranked words the video answers (1 for one term).
    std::uint32_t words = 1;

    friend bool operator==(const VideoScore&, const VideoScore&) = default;
};

// One word of a ranking and how it is matched: the nodes within `max_dist`
// of `query` in `metric`, chosen by `include_prefix_nodes` as
// fuzzy_match_video() chooses them.
struct RankedWord {
    std::span<const char32_t> query;
    std::uint32_t max_dist;
    EditMetric metric;
    std::optional<bool> include_prefix_nodes;
};

// The ranking of videos for several words. Each word scores a video as
// fuzzy_match_video() scores it for that word alone (a word that matches
// nothing scores no video), and a video answers a word when it appears in a
// payload the word matched. Returns the videos whose summed score is at least
// `min_score` (a NaN keeps nothing): most words answered first, then the
// highest sum, then by ascending video position; at most `limit` of them, a
// video outside the video table left out after the cut. One word ranks
// exactly as fuzzy_match_video(). Raises as fuzzy_match_video() does.
std::vector<VideoScore> rank_videos(const Trie& trie, std::span<const RankedWord> words,
                                    std::optional<std::uint32_t> limit, double min_score,
                                    const InterruptCheck& interrupt = {});

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
