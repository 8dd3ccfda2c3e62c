#include "every_query.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"
#include "builds/word_starts_build.hpp"
#include "index/text/label_text.hpp"
#include "index/trie/walk_index.hpp"
#include "path_count.hpp"
#include "queries/fuzzy_match.hpp"
#include "queries/fuzzy_match_nodes.hpp"
#include "queries/search.hpp"
#include "queries/suggest.hpp"
#include "queries/video_ranking.hpp"
#include "queries/walk/bit_parallel_rows.hpp"
#include "queries/walk/trie_walk.hpp"
#include "queries/walk/walk_budget.hpp"
#include "reachable_cycle.hpp"

namespace kelnor::fuzz {
namespace {

constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t WIDEST_BOUND = 65535;
constexpr std::size_t LONGEST_TERM = 16;
// The widest bound at which queries go round cycles (see reachable_cycle.hpp).
constexpr std::uint32_t WIDEST_CYCLE_BOUND = 4;
// The most paths on which the checked walk repeats a query (see path_count.hpp):
// a few milliseconds of visits per query under the sanitizers.
constexpr std::uint64_t MOST_COMPARED_PATHS = 10'000;

using NodeDistances = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The answer of a query, or nothing when it raised InternalFailure on an
// index that may be damaged, or went past its walk budget on any index (the
// build accepts shared children).
template <class Query>
auto attempt(Damage damage, Query&& query) -> std::optional<decltype(query())> {
    try {
        return query();
    } catch (const WalkBudgetSpent&) {
        return std::nullopt;
    } catch (const InternalFailure& failure) {
        if (damage == Damage::Impossible) {
            std::fprintf(stderr, "internal failure: %s\n", failure.what());
            finding("a query failed on an index that the build accepted");
        }
        return std::nullopt;
    }
}

struct Utf8Shape {
    std::size_t length;  // 0: the byte cannot start a sequence
    char32_t lead_bits;
    char32_t smallest;  // below this the sequence would be overlong
};

Utf8Shape utf8_shape(unsigned char lead) {
    if (lead < 0x80) return {1, lead, 0};
    if (lead < 0xC0 || lead > 0xF4) return {0, 0, 0};
    if (lead < 0xE0) return {2, lead & 0x1Fu, 0x80};
    if (lead < 0xF0) return {3, lead & 0x0Fu, 0x800};
    return {4, lead & 0x07u, 0x10000};
}

bool is_valid_utf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const Utf8Shape shape = utf8_shape(static_cast<unsigned char>(text[at]));
        if (shape.length == 0 || text.size() - at < shape.length) return false;
        char32_t value = shape.lead_bits;
        for (std::size_t k = 1; k < shape.length; ++k) {
            const auto byte = static_cast<unsigned char>(text[at + k]);
            if ((byte & 0xC0) != 0x80) return false;
            value = value << 6 | (byte & 0x3Fu);
        }
        if (value < shape.smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        at += shape.length;
    }
    return true;
}

void check_count(std::size_t count, std::optional<std::uint32_t> limit) {
    if (limit && count > *limit) finding("more hits than the limit");
}

void check_distance(std::uint32_t distance, std::uint32_t max_dist) {
    if (distance > std::min(max_dist, WIDEST_BOUND)) finding("a hit beyond the bound");
}

// Whether `part` appears in `whole` in the same order, each hit of `part`
// as one of `whole` that `covers` it. Taking the first that does is never
// wrong: a later one leaves no more room for the rest.
template <class Covers>
bool is_subsequence(const NodeDistances& part, const NodeDistances& whole, Covers&& covers) {
    std::size_t next = 0;
    for (const auto& hit : whole) {
        if (next < part.size() && covers(hit, part[next])) ++next;
    }
    return next == part.size();
}

// What every kind of query answers on one index: nothing for a query that
// raised InternalFailure on an index that may be damaged or went past its
// walk budget (see attempt()).
struct Answers {
    std::optional<std::vector<MatchResult>> terms;
    std::optional<NodeDistances> terminal;
    std::optional<NodeDistances> all;
    // Every node, with swaps as one edit.
    std::optional<NodeDistances> swaps;
    // With include_prefix_nodes absent, true and false.
    std::array<std::optional<std::vector<VideoScore>>, 3> videos;
    // Completions and nearest terms, each without and with swaps.
    std::array<std::optional<std::vector<Suggestion>>, 4> suggestions;
};

constexpr std::optional<bool> INCLUDE_PREFIX_NODES[] = {std::nullopt, true, false};

std::optional<std::vector<MatchResult>> matched_terms(const Trie& trie,
                                                      const QueryParameters& query, Damage damage) {
    return attempt(damage, [&] {
        std::vector<MatchResult> results =
            fuzzy_match(trie, query.term, query.max_dist, query.limit);
        for (const MatchResult& result : results) {
            check_distance(result.distance, query.max_dist);
            if (!is_valid_utf8(result.term)) finding("a matched term that is not valid UTF-8");
        }
        check_count(results.size(), query.limit);
        return results;
    });
}

std::optional<NodeDistances> matched_nodes(const Trie& trie, std::span<const char32_t> characters,
                                           const QueryParameters& query, bool terminal_only,
                                           Damage damage) {
    return attempt(damage, [&] {
        NodeDistances hits;
        for (const NodeHit& hit :
             fuzzy_match_nodes(trie, characters, query.max_dist, EditMetric::levenshtein,
                               terminal_only, query.limit)) {
            check_distance(hit.distance, query.max_dist);
            hits.emplace_back(hit.node, hit.distance);
        }
        check_count(hits.size(), query.limit);
        return hits;
    });
}

std::optional<NodeDistances> nodes_with_swaps(const Trie& trie,
                                              std::span<const char32_t> characters,
                                              const QueryParameters& query, Damage damage) {
    return attempt(damage, [&] {
        NodeDistances hits;
        walk_within_distance(
            trie, characters, query.max_dist, EditMetric::optimal_string_alignment, query.limit,
            InterruptCheck{},
            [&](std::uint32_t node, std::uint32_t distance, std::span<const char32_t>, char32_t) {
                check_distance(distance, query.max_dist);
                hits.emplace_back(node, distance);
                return true;
            });
        check_count(hits.size(), query.limit);
        return hits;
    });
}

// Completions on a trie with cycles run round them until they have `limit`
// terms or spend their budget, which a small index spends in a fraction of a
// second.
std::optional<std::vector<Suggestion>> suggested(const Trie& trie, const QueryParameters& query,
                                                 bool complete, bool transpositions,
                                                 Damage damage) {
    return attempt(damage, [&] {
        const SuggestOptions options{query.max_dist, query.limit, complete, transpositions};
        std::vector<Suggestion> found = suggest(trie, query.term, options);
        check_count(found.size(), query.limit);
        for (std::size_t k = 0; k < found.size(); ++k) {
            check_distance(found[k].distance, query.max_dist);
            if (!is_valid_utf8(found[k].term)) finding("a suggested term that is not valid UTF-8");
            if (k > 0 && ranks_before(found[k], found[k - 1], complete)) {
                finding("suggestions out of order");
            }
        }
        return found;
    });
}

std::optional<std::vector<VideoScore>> ranked_videos(const Trie& trie, const QueryParameters& query,
                                                     std::optional<bool> include_prefix_nodes,
                                                     Damage damage) {
    return attempt(damage, [&] {
        std::vector<VideoScore> scores = fuzzy_match_video(
            trie, query.term, query.max_dist, query.limit, include_prefix_nodes, query.min_score);
        check_count(scores.size(), query.limit);
        const double least = query.min_score.value_or(DEFAULT_MIN_SCORE);
        for (std::size_t k = 0; k < scores.size(); ++k) {
            if (!(scores[k].score >= least)) finding("a score below min_score");
            if (k > 0 && scores[k - 1].score < scores[k].score) finding("scores out of order");
            if (scores[k].video_id.empty()) finding("an empty video id");
        }
        return scores;
    });
}

// The term as a search text: its words (at most 8 in 16 bytes) rank videos by
// words answered, then score.
void check_search(const Trie& trie, const QueryParameters& query, Damage damage) {
    attempt(damage, [&] {
        SearchOptions options;
        options.max_dist = query.max_dist;
        options.limit = query.limit;
        options.min_score = query.min_score.value_or(0.0);
        Result<std::vector<VideoScore>, TooManyWords> found = search(trie, query.term, options);
        if (!found.ok()) finding("a short search text refused for its words");
        const std::vector<VideoScore>& videos = found.value();
        check_count(videos.size(), query.limit);
        for (std::size_t k = 0; k < videos.size(); ++k) {
            if (!(videos[k].score >= options.min_score)) finding("a search score below min_score");
            if (videos[k].words == 0) finding("a searched video that answers no word");
            if (k > 0 && (videos[k - 1].words < videos[k].words ||
                          (videos[k - 1].words == videos[k].words &&
                           videos[k - 1].score < videos[k].score))) {
                finding("searched videos out of order");
            }
        }
        return videos.size();
    });
}

NodeDistances node_distances(const std::vector<MatchResult>& results) {
    NodeDistances hits;
    for (const MatchResult& result : results) hits.emplace_back(result.node, result.distance);
    return hits;
}

// Every kind of query on `trie`, each answer checked alone and against the
// others that must agree with it.
Answers answers_on(const Trie& trie, const QueryParameters& query,
                   std::span<const char32_t> characters, Damage damage) {
    Answers answers;
    answers.terms = matched_terms(trie, query, damage);
    answers.terminal = matched_nodes(trie, characters, query, true, damage);
    if (answers.terms.has_value() != answers.terminal.has_value() ||
        (answers.terms && node_distances(*answers.terms) != *answers.terminal)) {
        finding("fuzzy_match and fuzzy_match_nodes disagree");
    }
    answers.all = matched_nodes(trie, characters, query, false, damage);
    const auto same = [](const auto& hit, const auto& part) { return hit == part; };
    if (!query.limit && answers.terminal && answers.all &&
        !is_subsequence(*answers.terminal, *answers.all, same)) {
        finding("a terminal hit missing among all hits");
    }
    // A swap is two edits without swaps: every path within the bound stays
    // within it, as near or nearer.
    answers.swaps = nodes_with_swaps(trie, characters, query, damage);
    const auto as_near = [](const auto& hit, const auto& part) {
        return hit.first == part.first && hit.second <= part.second;
    };
    if (!query.limit && answers.all && answers.swaps &&
        !is_subsequence(*answers.all, *answers.swaps, as_near)) {
        finding("a hit without swaps missing among the hits with swaps");
    }
    for (std::size_t k = 0; k < std::size(INCLUDE_PREFIX_NODES); ++k) {
        answers.videos[k] = ranked_videos(trie, query, INCLUDE_PREFIX_NODES[k], damage);
    }
    for (std::size_t k = 0; k < answers.suggestions.size(); ++k) {
        answers.suggestions[k] = suggested(trie, query, k < 2, k % 2 == 1, damage);
    }
    check_search(trie, query, damage);
    return answers;
}

// Whether two answers differ where both came: a walk may spend its budget
// where the other does not, since they count their visits differently.
template <class Answer>
bool differ(const std::optional<Answer>& fast, const std::optional<Answer>& checked) {
    return fast && checked && *fast != *checked;
}

// The fast walk runs only on a sound index (trie_walk.hpp): a copy that is
// not marked sound takes the checked walk for every query, and without term
// counts reads them from the payloads as it goes.
Trie checked_walk_only(const Trie& trie) {
    Trie copy = trie;
    copy.walk_index = WalkIndex{};
    copy.term_counts = TermCounts{};
    copy.walk_index.deepest = trie.walk_index.deepest;
    return copy;
}

// With the words of the trie's terms derived, completions come from every
// word of a term: each term once, in order, within the bound, and, when no
// limit cuts them, every completion from a term's start among them, as near
// or nearer.
void check_word_starts(const Trie& trie, const QueryParameters& query, const Answers& plain,
                       Damage damage) {
    auto starts = attempt(damage, [&] { return word_starts_of(trie); });
    if (!starts || !starts->ok()) return;
    for (const bool transpositions : {false, true}) {
        const auto found = attempt(damage, [&] {
            const SuggestOptions options{query.max_dist, query.limit, true, transpositions};
            return suggest(trie, query.term, options, {}, &starts->value());
        });
        if (!found) continue;
        check_count(found->size(), query.limit);
        std::vector<std::string> terms;
        for (std::size_t k = 0; k < found->size(); ++k) {
            check_distance((*found)[k].distance, query.max_dist);
            if (!is_valid_utf8((*found)[k].term)) finding("a word-start term that is not UTF-8");
            if (k > 0 && ranks_before((*found)[k], (*found)[k - 1], true)) {
                finding("word-start suggestions out of order");
            }
            terms.push_back((*found)[k].term);
        }
        std::sort(terms.begin(), terms.end());
        if (std::adjacent_find(terms.begin(), terms.end()) != terms.end()) {
            finding("a term suggested twice with word starts");
        }
        const auto& from_start = plain.suggestions[transpositions ? 1 : 0];
        if (query.limit || !from_start) continue;
        for (const Suggestion& wanted : *from_start) {
            const bool kept = std::any_of(found->begin(), found->end(), [&](const Suggestion& s) {
                return s.term == wanted.term && s.distance <= wanted.distance;
            });
            if (!kept) finding("a completion from a term's start missing with word starts");
        }
    }
}

}  // namespace

QueryParameters take_query_parameters(FuzzInput& input) {
    // Every bound of the fast walk, the wider ones after the others so that
    // the seeds keep their meaning.
    constexpr std::uint32_t distances[] = {0, 1, 2, 3, 4, 250, 65535, 65536, U32_MAX, 5, 6, 7, 8};
    const double infinity = std::numeric_limits<double>::infinity();
    const std::optional<double> min_scores[] = {
        std::nullopt, 0.0,     0.01, 0.5, 1.0, std::numeric_limits<double>::quiet_NaN(),
        -infinity,    infinity};

    QueryParameters query;
    query.max_dist = distances[input.take_byte() % std::size(distances)];
    const std::uint8_t limit = input.take_byte();
    if (limit % 4 != 0) query.limit = limit / 4 == 63 ? U32_MAX : limit / 4;
    query.min_score = min_scores[input.take_byte() % std::size(min_scores)];
    const std::span<const std::uint8_t> term =
        input.take_bytes(input.take_byte() % (LONGEST_TERM + 1));
    query.term.assign(term.begin(), term.end());
    return query;
}

void run_every_query(const Trie& trie, const QueryParameters& query, Damage damage) {
    if (query.max_dist > WIDEST_CYCLE_BOUND && has_reachable_cycle(trie)) return;
    const std::vector<char32_t> characters = decode_utf8(query.term);
    const Answers fast = answers_on(trie, query, characters, damage);
    check_word_starts(trie, query, fast, damage);
    // Where the fast walk does not apply, the checked walk answered already.
    if (!trie.walk_index.sound || query.max_dist > MAX_BIT_PARALLEL_BOUND) return;
    if (more_paths_than(trie, characters.size() + query.max_dist, MOST_COMPARED_PATHS)) return;

    const Answers checked = answers_on(checked_walk_only(trie), query, characters, damage);
    if (differ(fast.terms, checked.terms)) finding("fuzzy_match: the two walks disagree");
    if (differ(fast.terminal, checked.terminal) || differ(fast.all, checked.all)) {
        finding("fuzzy_match_nodes: the two walks disagree");
    }
    if (differ(fast.swaps, checked.swaps)) finding("walk with swaps: the two walks disagree");
    for (std::size_t k = 0; k < fast.videos.size(); ++k) {
        if (differ(fast.videos[k], checked.videos[k])) {
            finding("fuzzy_match_video: the two walks disagree");
        }
    }
    for (std::size_t k = 0; k < fast.suggestions.size(); ++k) {
        if (differ(fast.suggestions[k], checked.suggestions[k])) {
            finding("suggest: the two walks disagree");
        }
    }
}

void finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace kelnor::fuzz
