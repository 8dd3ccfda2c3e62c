#include "queries/video_ranking.hpp"

#include <algorithm>
#include <compare>
#include <cstddef>
#include <span>
#include <utility>

#include "base/internal_failure.hpp"
#include "index/video_id_text.hpp"
#include "queries/fuzzy_match_nodes.hpp"
#include "queries/score_table.hpp"
#include "queries/walk/walk_budget.hpp"
#include "queries/walk/walk_query.hpp"

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

struct Tally {
    explicit Tally(std::size_t expected) : sums(expected) {}
    ScoreTable sums;  // by video position
    double weight_total = 0.0;
};

// Room at first for this many videos at most; the table grows past it.
constexpr std::size_t FIRST_ROOM = 1024;

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

Tally tally_payloads(const Trie& trie, std::span<const NodeHit> hits, std::size_t query_length,
                     const InterruptCheck& interrupt) {
    Tally tally(expected_videos(trie, hits));
    WalkBudget budget(child_list_entries(trie) + trie.payloads.encoded().size(), interrupt,
                      VISITS_BETWEEN_CHECKS, TALLY_SCALE);
    for (const NodeHit& hit : hits) {
        double weight = closeness_weight(hit.distance, query_length);
        if (hit.distance != 0 && !(weight > 0.0)) continue;
        if (!checked_at(trie.is_terminal, hit.node)) weight *= PREFIX_NODE_FACTOR;
        if (hit.node >= trie.payloads.size()) {
            fail_index_out_of_bounds(trie.payloads.size(), hit.node);
        }
        if (!trie.payloads.present(hit.node)) continue;
        const PayloadView payload = trie.payloads.view(hit.node);
        budget.spend(1 + payload.video_ids.size());
        tally.weight_total += weight * payload.total_count;
        PackedList::iterator count = payload.video_counts.begin();
        std::size_t i = 0;
        for (const std::uint32_t video : payload.video_ids) {
            if (i >= payload.video_counts.size()) {
                fail_index_out_of_bounds(payload.video_counts.size(), i);
            }
            tally.sums.add(video, weight * *count);
            ++count;
            ++i;
        }
    }
    return tally;
}

Tally word_tally(const Trie& trie, const RankedWord& word, const InterruptCheck& interrupt) {
    const std::vector<NodeHit> hits = matched_nodes(trie, word, interrupt);
    return tally_payloads(trie, hits, word.query.size(), interrupt);
}

// Calls visit(video, score) for each video of a word's tally with a weight.
template <class Visit>
void for_each_word_score(const Tally& tally, Visit&& visit) {
    if (!(tally.weight_total > 0.0)) return;
    tally.sums.for_each(
        [&](std::uint32_t video, double sum) { visit(video, sum / tally.weight_total); });
}

// A video's standing over several words.
struct Answered {
    std::uint32_t words = 0;
    double score = 0.0;

    Answered& operator+=(const Answered& word) {
        words += word.words;
        score += word.score;
        return *this;
    }
};

struct Candidate {
    std::uint32_t video;
    double score;
    std::uint32_t words;
};

std::vector<Candidate> candidates_at_least(const Trie& trie, std::span<const RankedWord> words,
                                           double min_score, const InterruptCheck& interrupt) {
    std::vector<Candidate> candidates;
    const auto keep = [&](std::uint32_t video, double score, std::uint32_t answered) {
        if (score >= min_score) candidates.push_back({video, score, answered});
    };
    // One word needs no second table: its scores are the ranking's.
    if (words.size() == 1) {
        for_each_word_score(word_tally(trie, words[0], interrupt),
                            [&](std::uint32_t video, double score) { keep(video, score, 1); });
        return candidates;
    }
    std::vector<Tally> tallies;
    tallies.reserve(words.size());
    std::size_t listed = 0;
    for (const RankedWord& word : words) {
        tallies.push_back(word_tally(trie, word, interrupt));
        listed += tallies.back().sums.size();
    }
    // Room for every video once, which is also room enough when words share them.
    BasicScoreTable<Answered> standings(listed);
    for (const Tally& tally : tallies) {
        for_each_word_score(tally, [&](std::uint32_t video, double score) {
            standings.add(video, {1, score});
        });
    }
    standings.for_each([&](std::uint32_t video, const Answered& answered) {
        keep(video, answered.score, answered.words);
    });
    return candidates;
}

// More words answered first, then higher scores, equal ones by ascending
// video position: a strict total order, so the ranking does not depend on the
// score table's layout.
bool ranks_before(const Candidate& a, const Candidate& b) {
    if (a.words != b.words) return a.words > b.words;
    const std::strong_ordering order = std::strong_order(a.score, b.score);
    if (order != 0) return order > 0;
    return a.video < b.video;
}

void keep_best(std::vector<Candidate>& candidates, std::optional<std::uint32_t> limit) {
    if (limit && candidates.size() > *limit) {
        const auto cut = candidates.begin() + *limit;
        std::nth_element(candidates.begin(), cut, candidates.end(), ranks_before);
        candidates.erase(cut, candidates.end());
    }
    std::sort(candidates.begin(), candidates.end(), ranks_before);
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
    std::vector<Candidate> candidates = candidates_at_least(trie, words, min_score, interrupt);
    keep_best(candidates, limit);
    return spelled(trie, candidates);
}

}  // namespace kelnor
