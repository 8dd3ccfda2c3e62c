#include "queries/word_start_completions.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "base/internal_failure.hpp"
#include "index/text/label_text.hpp"
#include "index/text/search_words.hpp"
#include "queries/completion_search.hpp"
#include "queries/path_links.hpp"
#include "queries/spelling_cost.hpp"
#include "queries/walk/distance_table.hpp"
#include "queries/walk/trie_walk.hpp"

namespace kelnor {
namespace {

// A distance and a spelling cost, compared in that order and added as a
// pair: the key by which the ways of matching one phrase are chosen.
struct Closeness {
    std::uint32_t distance = 0;
    std::uint32_t cost = 0;

    friend Closeness operator+(Closeness a, Closeness b) {
        return {a.distance + b.distance, a.cost + b.cost};
    }
    friend bool operator<(Closeness a, Closeness b) {
        return std::tie(a.distance, a.cost) < std::tie(b.distance, b.cost);
    }
};

constexpr std::uint32_t FAR = std::numeric_limits<std::uint32_t>::max() / 4;
constexpr Closeness UNMATCHED{FAR, 0};

std::uint32_t word_bound(std::uint32_t bound, std::size_t length) {
    return std::min<std::uint32_t>(bound, length < 4 ? 0 : length < 8 ? 1 : 2);
}

// A typed word before the last, matched against whole words of phrases.
class TypedWord {
  public:
    TypedWord(std::span<const char32_t> word, std::uint32_t bound, EditMetric metric)
        : word_(word),
          bound_(word_bound(bound, word.size())),
          metric_(metric),
          table_(word, bound_, metric),
          cost_(word, bound_) {}

    // The phrases with a word within the bound, ascending: one walk over the
    // words, then their postings.
    std::vector<std::uint32_t> phrases_near(const WordStarts& starts,
                                            const InterruptCheck& interrupt) const {
        std::vector<std::uint32_t> phrases;
        walk_within_distance(
            starts.words, word_, bound_, metric_, std::nullopt, interrupt,
            [&](std::uint32_t node, std::uint32_t, std::span<const char32_t>, char32_t) {
                const std::size_t end = checked_at(starts.posting_starts, node + 1);
                for (std::size_t k = starts.posting_starts[node]; k < end; ++k) {
                    phrases.push_back(checked_at(starts.postings, k).phrase);
                }
                return true;
            });
        std::sort(phrases.begin(), phrases.end());
        phrases.erase(std::unique(phrases.begin(), phrases.end()), phrases.end());
        return phrases;
    }

    std::span<const char32_t> text() const noexcept { return word_; }

    // How close `word` is, or UNMATCHED beyond the bound.
    Closeness against(std::span<const char32_t> word) {
        for (std::size_t depth = 0; depth < word.size(); ++depth) {
            if (table_.extend(depth, word[depth]) > bound_) return UNMATCHED;
        }
        const std::uint32_t distance = table_.query_distance(word.size());
        if (distance > bound_) return UNMATCHED;
        return {distance, cost_.of(word, NO_LABEL)};
    }

  private:
    std::span<const char32_t> word_;
    std::uint32_t bound_;
    EditMetric metric_;
    DistanceTable table_;
    SpellingCost cost_;
};

// A way a phrase may complete the text: its last typed word near a prefix of
// the phrase's word `ordinal`.
struct Candidate {
    std::uint32_t phrase;
    std::uint32_t ordinal;
    Closeness last;
};

// The node of `words` spelled by `word`, which the completion search found
// there.
std::uint32_t node_of(const Trie& words, std::span<const char32_t> word) {
    std::uint32_t node = 0;
    for (const char32_t label : word) {
        const ChildRange range = child_range(words, node);
        const auto begin = words.child_transitions.begin();
        const auto found = std::partition_point(
            begin + static_cast<std::ptrdiff_t>(range.begin),
            begin + static_cast<std::ptrdiff_t>(range.end),
            [&](std::uint32_t child) { return checked_at(words.child_labels, child) < label; });
        if (found == begin + static_cast<std::ptrdiff_t>(range.end) ||
            checked_at(words.child_labels, *found) != label) {
            throw InternalFailure("a completed word is missing from the words of the phrases");
        }
        node = *found;
    }
    return node;
}

// The phrases that have a word near each of `typed`, ascending: a phrase
// elsewhere cannot match them all, so only these are matched word by word.
// A word typed twice is walked once, and once no phrase is left no more.
std::vector<std::uint32_t> phrases_near_all(std::span<const TypedWord> typed,
                                            const WordStarts& starts,
                                            const InterruptCheck& interrupt) {
    std::vector<const TypedWord*> distinct;
    for (const TypedWord& word : typed) distinct.push_back(&word);
    std::sort(distinct.begin(), distinct.end(), [](const TypedWord* a, const TypedWord* b) {
        return std::ranges::lexicographical_compare(a->text(), b->text());
    });
    distinct.erase(std::unique(distinct.begin(), distinct.end(),
                               [](const TypedWord* a, const TypedWord* b) {
                                   return std::ranges::equal(a->text(), b->text());
                               }),
                   distinct.end());
    std::vector<std::uint32_t> common = distinct.front()->phrases_near(starts, interrupt);
    std::vector<std::uint32_t> both;
    for (std::size_t k = 1; k < distinct.size() && !common.empty(); ++k) {
        const std::vector<std::uint32_t> near = distinct[k]->phrases_near(starts, interrupt);
        both.clear();
        std::set_intersection(common.begin(), common.end(), near.begin(), near.end(),
                              std::back_inserter(both));
        std::swap(common, both);
    }
    return common;
}

// For every k, the closest way to match the typed words before the last, in
// order, to whole words among the phrase's first k (UNMATCHED: none), in
// `best`, which it replaces. Asks `poll` once per word matched: a phrase of
// thousands of words against as many typed words is millions of matches.
void match_earlier_words(std::span<TypedWord> typed, std::span<const char32_t> text,
                         std::span<const WordSpan> words, std::vector<Closeness>& best,
                         std::vector<Closeness>& row, InterruptPoll& poll) {
    // row[k]: the first i typed words matched among the first k words.
    row.assign(words.size() + 1, Closeness{});
    for (TypedWord& word : typed) {
        best.assign(words.size() + 1, UNMATCHED);
        for (std::size_t k = 1; k <= words.size(); ++k) {
            poll();
            best[k] = best[k - 1];
            if (row[k - 1].distance >= FAR) continue;
            const Closeness match = word.against(
                text.subspan(words[k - 1].begin, words[k - 1].end - words[k - 1].begin));
            if (match.distance < FAR) best[k] = std::min(best[k], row[k - 1] + match);
        }
        std::swap(row, best);
    }
    std::swap(row, best);
}

// The query's typed words and what is known of them.
struct Typed {
    std::span<const char32_t> last;
    std::vector<TypedWord> earlier;
    // The phrases that have a word near each earlier typed word, ascending.
    std::vector<std::uint32_t> allowed;
};

// The postings of `postings` (by phrase) whose phrase is in `allowed`
// (ascending), by binary searches on the longer of the two.
template <class Take>
void for_each_allowed(std::span<const WordPosting> postings, std::span<const std::uint32_t> allowed,
                      Take take) {
    const auto by_phrase = [](const WordPosting& posting, std::uint32_t phrase) {
        return posting.phrase < phrase;
    };
    if (allowed.size() < postings.size()) {
        auto from = postings.begin();
        for (const std::uint32_t phrase : allowed) {
            from = std::lower_bound(from, postings.end(), phrase, by_phrase);
            for (; from != postings.end() && from->phrase == phrase; ++from) take(*from);
        }
    } else {
        for (const WordPosting& posting : postings) {
            if (std::binary_search(allowed.begin(), allowed.end(), posting.phrase)) take(posting);
        }
    }
}

// The ways the phrases of `words` (completions of the last typed word)
// complete the text, by phrase: of each word, with earlier typed words its
// phrases that have a word near each of them, else its first `per_word`
// phrases.
std::vector<Candidate> candidates_of(const WordStarts& starts, const Typed& typed,
                                     std::span<const Suggestion> words, std::size_t per_word) {
    std::vector<Candidate> candidates;
    const std::span<const WordPosting> all_postings = starts.postings;
    for (const Suggestion& word : words) {
        const std::uint32_t node = node_of(starts.words, decode_utf8(word.term));
        const std::size_t begin = checked_at(starts.posting_starts, node);
        const std::size_t end = checked_at(starts.posting_starts, node + 1);
        if (begin > end || end > all_postings.size())
            fail_index_out_of_bounds(all_postings.size(), end);
        const std::span<const WordPosting> postings = all_postings.subspan(begin, end - begin);
        const auto take = [&](const WordPosting& posting) {
            if (posting.ordinal >= typed.earlier.size()) {
                candidates.push_back({posting.phrase, posting.ordinal, {word.distance, word.cost}});
            }
        };
        if (!typed.earlier.empty()) {
            for_each_allowed(postings, typed.allowed, take);
            continue;
        }
        std::size_t phrases = 0;
        for (std::size_t k = 0; k < postings.size(); ++k) {
            const bool another = k == 0 || postings[k - 1].phrase != postings[k].phrase;
            if (another && phrases++ == per_word) break;
            take(postings[k]);
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.phrase < b.phrase; });
    return candidates;
}

// The best `limit` phrases of `candidates` (sorted by phrase), each at its
// nearest and then cheapest way that matches the earlier typed words too.
std::vector<Suggestion> best_phrases(const WordStarts& starts, Typed& typed,
                                     std::span<const Candidate> candidates, std::uint32_t bound,
                                     std::optional<std::uint32_t> limit,
                                     const InterruptCheck& interrupt) {
    std::vector<Suggestion> found;
    InterruptPoll poll(interrupt, 1 << 10);
    std::vector<char32_t> phrase;
    std::vector<WordSpan> words;
    std::vector<Closeness> best;
    std::vector<Closeness> row;
    for (std::size_t first = 0; first < candidates.size();) {
        poll();
        const std::uint32_t p = candidates[first].phrase;
        std::size_t after = first;
        while (after < candidates.size() && candidates[after].phrase == p) ++after;
        if (!typed.earlier.empty()) {
            phrase = decode_utf8(starts.phrase_text(p));
            split_words(phrase, words);
            match_earlier_words(typed.earlier, phrase, words, best, row, poll);
        }
        Closeness nearest = UNMATCHED;
        for (std::size_t k = first; k < after; ++k) {
            const Candidate& candidate = candidates[k];
            const Closeness before = typed.earlier.empty() ? Closeness{} : best[candidate.ordinal];
            if (before.distance >= FAR) continue;
            nearest = std::min(nearest, before + candidate.last);
        }
        if (nearest.distance <= bound) {
            found.push_back({std::string(starts.phrase_text(p)), nearest.distance,
                             checked_at(starts.phrase_counts, p), nearest.cost});
        }
        first = after;
    }
    const auto kept = std::min<std::size_t>(found.size(), limit.value_or(found.size()));
    std::partial_sort(
        found.begin(), found.begin() + static_cast<std::ptrdiff_t>(kept), found.end(),
        [](const Suggestion& a, const Suggestion& b) { return ranks_before(a, b, true); });
    found.resize(kept);
    return found;
}

// Whether no phrase of a word after `last_word` in the completion search's
// order can rank before `answer`'s last: such a word is no nearer, no
// cheaper and, as near and as cheap, its best phrase counts no more than
// `last_word`'s.
bool nothing_later_ranks_before(std::span<const Suggestion> answer, const Suggestion& last_word) {
    const Suggestion& worst = answer.back();
    return std::tie(worst.distance, worst.cost) < std::tie(last_word.distance, last_word.cost) ||
           (std::tie(worst.distance, worst.cost) == std::tie(last_word.distance, last_word.cost) &&
            worst.count > last_word.count);
}

}  // namespace

std::vector<Suggestion> word_start_completions(const WordStarts& starts,
                                               std::span<const char32_t> text, std::uint32_t bound,
                                               EditMetric metric,
                                               std::optional<std::uint32_t> limit,
                                               const InterruptCheck& interrupt) {
    std::vector<WordSpan> spans;
    split_words(text, spans);
    // Each typed word matches another word of the phrase.
    if (spans.empty() || spans.size() > starts.most_words || limit == 0u) return {};
    const auto word_at = [&](std::size_t k) {
        return text.subspan(spans[k].begin, spans[k].end - spans[k].begin);
    };
    Typed typed{word_at(spans.size() - 1), {}, {}};
    typed.earlier.reserve(spans.size() - 1);
    for (std::size_t k = 0; k + 1 < spans.size(); ++k) {
        typed.earlier.emplace_back(word_at(k), bound, metric);
    }
    if (!typed.earlier.empty()) {
        typed.allowed = phrases_near_all(typed.earlier, starts, interrupt);
        if (typed.allowed.empty()) return {};
    }
    const std::uint32_t last_bound = word_bound(bound, typed.last.size());

    // Earlier words may rule out any phrase, so every completion of the last
    // word is looked at; so too when the words' counts are not exact.
    if (!typed.earlier.empty() || !limit || !starts.best_counts_exact) {
        const std::vector<Suggestion> words =
            completions(starts.words, typed.last, last_bound, metric, std::nullopt, interrupt);
        const std::vector<Candidate> candidates =
            candidates_of(starts, typed, words, std::numeric_limits<std::size_t>::max());
        return best_phrases(starts, typed, candidates, bound, limit, interrupt);
    }
    // Otherwise the words come best first, and a word's phrases after its
    // first `limit` (by number, the order of count and text) rank after
    // those: the best words are taken, more of them while the words left
    // could still hold a phrase of the answer.
    for (std::uint64_t taken = *limit;; taken *= 4) {
        const auto asked = static_cast<std::uint32_t>(std::min<std::uint64_t>(taken, UINT32_MAX));
        const std::vector<Suggestion> words =
            completions(starts.words, typed.last, last_bound, metric, asked, interrupt);
        const std::vector<Candidate> candidates = candidates_of(starts, typed, words, *limit);
        std::vector<Suggestion> answer =
            best_phrases(starts, typed, candidates, bound, limit, interrupt);
        if (words.size() < asked || asked == UINT32_MAX ||
            (answer.size() == *limit && nothing_later_ranks_before(answer, words.back()))) {
            return answer;
        }
    }
}

}  // namespace kelnor
