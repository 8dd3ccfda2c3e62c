#include "queries/video_ranking.hpp"

#include <algorithm>
#include <compare>
#include <cstddef>
#include <limits>
#include <span>
#include <utility>

#include "base/internal_failure.hpp"
#include "index/video_id_text.hpp"
#include "queries/best_candidates.hpp"
#include "queries/fuzzy_match_nodes.hpp"
#include "queries/score_table.hpp"
#include "queries/walk/walk_budget.hpp"
#include "queries/walk/walk_query.hpp"
#include "queries/word_standings.hpp"

namespace kelnor {

namespace {

std::vector<NodeHit> matched_nodes(const Trie& trie, const RankedWord& word,
                                   const InterruptCheck& interrupt) {
    if (word.include_prefix_nodes) {
        return fuzzy_match_nodes(trie, word.query, word.max_dist, word.metric,
                                 !*word.include_prefix_nodes, std::nullopt, interrupt);
    }
    return fuzzy_match_nodes_terminal_first(trie, word.query, word.max_dist, word.metric,
                                            interrupt);
}

// How much a node matched at `distance` counts, before the prefix node factor.
// The operations run in this order so that scores are reproducible to the bit.
double closeness_weight(std::uint32_t distance, std::size_t query_length) {
    if (distance == 0) return 1.0;
    if (query_length == 0) return 0.0;
    return (1.0 - static_cast<double>(distance) / static_cast<double>(query_length)) * FUZZY_WEIGHT;
}

// Room at first for this many videos at most; the table grows past it.
constexpr std::size_t FIRST_ROOM = 1 << 14;

// Room for as many videos as the hits' payloads list, up to FIRST_ROOM.
std::size_t expected_videos(const Trie& trie, std::span<const NodeHit> hits) {
    std::size_t listed = 0;
    for (const NodeHit& hit : hits) {
        if (hit.node < trie.payloads.size()) listed += trie.payloads.video_count(hit.node);
        if (listed >= FIRST_ROOM) return FIRST_ROOM;
    }
    return listed;
}

// A node that the walk reached by many paths is a hit as many times, each
// adding its whole payload: the adds are counted against the index's child
// lists and payload bytes (each video of a payload takes a byte at least).
constexpr BudgetScale TALLY_SCALE{VISITS_PER_ENTRY, VISITS_BEYOND, "the ranking", "payload entries",
                                  "the child lists reach some node by more than one path"};

// Calls add(video, weight * count) for each entry of the hits' payloads, in
// the order of the hits and of each payload, and returns the weighted total
// of the payloads' counts, by which a video's sum divides into its score.
template <class Add>
double tally_payloads(const Trie& trie, std::span<const NodeHit> hits, std::size_t query_length,
                      const InterruptCheck& interrupt, Add&& add) {
    WalkBudget budget(child_list_entries(trie) + trie.payloads.encoded().size(), interrupt,
                      VISITS_BETWEEN_CHECKS, TALLY_SCALE);
    double weight_total = 0.0;
    std::vector<std::uint32_t> video_ids;
    for (const NodeHit& hit : hits) {
        double weight = closeness_weight(hit.distance, query_length);
        if (hit.distance != 0 && !(weight > 0.0)) continue;
        if (!checked_at(trie.is_terminal, hit.node)) weight *= PREFIX_NODE_FACTOR;
        if (hit.node >= trie.payloads.size()) {
            fail_index_out_of_bounds(trie.payloads.size(), hit.node);
        }
        if (!trie.payloads.present(hit.node)) continue;
        const PayloadView payload = trie.payloads.view(hit.node, video_ids);
        budget.spend(1 + video_ids.size());
        weight_total += weight * payload.total_count;
        // The first video without a count fails the whole ranking, so the
        // lists' lengths are checked once, before any video.
        if (video_ids.size() > payload.video_counts.size()) {
            fail_index_out_of_bounds(payload.video_counts.size(), payload.video_counts.size());
        }
        PackedList::iterator count = payload.video_counts.begin();
        for (const std::uint32_t video : video_ids) {
            add(video, weight * *count);
            ++count;
        }
    }
    return weight_total;
}

// More words answered first, then higher scores, equal ones by ascending
// video position: a strict total order, so the ranking does not depend on the
// score table's layout.
struct RanksBefore {
    bool operator()(const Candidate& a, const Candidate& b) const {
        if (a.words != b.words) return a.words > b.words;
        // Most scores differ and compare plainly; equal ones, and a zero or a
        // NaN of either sign, go by the total order.
        if (a.score > b.score) return true;
        if (a.score < b.score) return false;
        const std::strong_ordering order = std::strong_order(a.score, b.score);
        if (order != 0) return order > 0;
        return a.video < b.video;
    }
};

using Best = BestCandidates<RanksBefore>;

// Far inside the rounding of a product and a division (a few units in the
// 53rd bit), so that a sum below `bound * total * ROUNDING_MARGIN` scores
// below `bound` however sum / total rounds.
constexpr double ROUNDING_MARGIN = 1.0 - 0x1p-40;

// Offers the videos of `sums` as answering one word each, scored by their
// sum over `total`, the word's weighted total; a total not above 0 answers
// no video, and none is offered once the kept ones all answer more words.
// Once `limit` are kept, a sum too small to score what the last kept one
// scores is turned away by a comparison, before any division.
void offer_answering_one_word(const ScoreTable& sums, double total, double min_score, Best& best) {
    if (!(total > 0.0) || best.turns_away_answering(1)) return;
    const double least_sum = min_score * total * ROUNDING_MARGIN;
    double turned_away_below = least_sum;
    sums.for_each([&](std::uint32_t video, double sum) {
        if (sum < turned_away_below) return;
        const double score = sum / total;
        if (!(score >= min_score)) return;
        best.offer({video, score, 1});
        if (const Candidate* last = best.last_kept_when_full()) {
            turned_away_below = last->words > 1
                                    ? std::numeric_limits<double>::infinity()
                                    : std::max(least_sum, last->score * total * ROUNDING_MARGIN);
        }
    });
}

// One word needs no standings: its scores are the ranking's.
void offer_one_word(const Trie& trie, const RankedWord& word, double min_score,
                    const InterruptCheck& interrupt, Best& best) {
    const std::vector<NodeHit> hits = matched_nodes(trie, word, interrupt);
    ScoreTable sums(expected_videos(trie, hits));
    const double weight_total =
        tally_payloads(trie, hits, word.query.size(), interrupt,
                       [&](std::uint32_t video, double amount) { sums.add(video, amount); });
    offer_answering_one_word(sums, weight_total, min_score, best);
}

// The last word is the one being typed, whose payloads are the most to read
// (a short prefix within an edit reaches thousands of videos), so it is
// tallied into a table of its own, and each video the words before it reached
// takes its sum from there: the same sum, added up in the same order, as if
// the standings had tallied it. The videos left answer the last word alone.
void offer_words(const Trie& trie, std::span<const RankedWord> words, double min_score,
                 const InterruptCheck& interrupt, Best& best) {
    const auto last = static_cast<std::uint32_t>(words.size() - 1);
    std::vector<double> weight_totals(words.size(), 0.0);
    std::vector<NodeHit> hits;
    BasicScoreTable<Standing> standings(0);
    for (std::uint32_t word = 0; word < last; ++word) {
        hits = matched_nodes(trie, words[word], interrupt);
        standings.make_room(expected_videos(trie, hits));
        weight_totals[word] =
            tally_payloads(trie, hits, words[word].query.size(), interrupt,
                           [&](std::uint32_t video, double amount) {
                               standings.add(video, WordAmount{word, amount, weight_totals});
                           });
    }
    hits = matched_nodes(trie, words[last], interrupt);
    ScoreTable last_sums(expected_videos(trie, hits));
    weight_totals[last] =
        tally_payloads(trie, hits, words[last].query.size(), interrupt,
                       [&](std::uint32_t video, double amount) { last_sums.add(video, amount); });
    standings.for_each([&](std::uint32_t video, Standing standing) {
        if (const std::optional<double> sum = last_sums.take(video)) {
            standing += WordAmount{last, *sum, weight_totals};
        }
        standing.fold(weight_totals);
        if (standing.words > 0 && standing.score >= min_score) {
            best.offer({video, standing.score, standing.words});
        }
    });
    offer_answering_one_word(last_sums, weight_totals[last], min_score, best);
}

std::vector<VideoScore> spelled(const Trie& trie, std::span<const Candidate> candidates) {
    std::vector<VideoScore> results;
    results.reserve(candidates.size());
    for (const Candidate& candidate : candidates) {
        if (std::optional<std::string> text = video_id_text(trie, candidate.video)) {
            results.push_back({std::move(*text), candidate.score, candidate.words});
        }
    }
    return results;
}

}  // namespace

std::vector<VideoScore> fuzzy_match_video(const Trie& trie, std::string_view term_utf8,
                                          std::uint32_t max_dist,
                                          std::optional<std::uint32_t> limit,
                                          std::optional<bool> include_prefix_nodes,
                                          std::optional<double> min_score,
                                          const InterruptCheck& interrupt) {
    const std::optional<std::vector<char32_t>> query = walk_query(trie, term_utf8, max_dist);
    if (!query) return {};
    const RankedWord word{*query, max_dist, EditMetric::levenshtein, include_prefix_nodes};
    return rank_videos(trie, {&word, 1}, limit, min_score.value_or(DEFAULT_MIN_SCORE), interrupt);
}

std::vector<VideoScore> rank_videos(const Trie& trie, std::span<const RankedWord> words,
                                    std::optional<std::uint32_t> limit, double min_score,
                                    const InterruptCheck& interrupt) {
    Best best(limit);
    if (words.size() == 1) {
        offer_one_word(trie, words[0], min_score, interrupt, best);
    } else if (!words.empty()) {
        offer_words(trie, words, min_score, interrupt, best);
    }
    return spelled(trie, std::move(best).ranked());
}

}  // namespace kelnor
