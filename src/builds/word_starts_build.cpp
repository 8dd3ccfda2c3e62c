#include "builds/word_starts_build.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"
#include "builds/internal_data.hpp"
#include "builds/sorted_trie.hpp"
#include "index/text/label_text.hpp"
#include "index/text/search_words.hpp"

namespace kelnor {
namespace {

struct Phrase {
    std::string text;
    TermCount count;
};

// Every term of `trie` with its own count, by a depth-first walk that
// refuses a node reached twice (a build from flat arrays may share
// children, a damaged image go round a cycle), or terms that hold more
// than `most_characters`, with the reason.
Result<std::vector<Phrase>, std::string> phrases_of(const Trie& trie, std::uint64_t most_characters,
                                                    InterruptPoll& poll) {
    std::vector<Phrase> phrases;
    if (trie.node_shifts.empty()) return phrases;
    std::uint64_t characters = 0;
    // The root counts as seen: a child that is the root is a cycle.
    std::vector<std::uint8_t> seen(std::max<std::size_t>(trie.child_labels.size(), 1));
    seen[0] = 1;
    std::vector<std::pair<std::uint32_t, std::size_t>> stack{{0, 0}};  // node, its depth
    std::vector<char32_t> path;
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        poll();
        if (depth > 0) {
            path.resize(depth - 1);
            path.push_back(checked_at(trie.child_labels, node));
            if (checked_at(trie.is_terminal, node)) {
                characters += depth;
                if (characters > most_characters) {
                    return "the terms of this index of " +
                           std::to_string(trie.child_labels.size()) + " nodes hold more than " +
                           std::to_string(most_characters) +
                           " characters, the most whose words an index derives";
                }
                std::string text;
                for (const char32_t label : path) append_utf8(text, label);
                phrases.push_back({std::move(text), trie.term_counts.own(trie, node)});
            }
        }
        const ChildRange range = child_range(trie, node);
        for (std::size_t k = range.begin; k < range.end; ++k) {
            const std::uint32_t child = checked_at(trie.child_transitions, k);
            if (checked_at(trie.child_labels, child) == 0) continue;
            if (checked_at(seen, child)) {
                return "node " + std::to_string(child) +
                       " has more than one path: the words of an index are derived from a tree";
            }
            seen[child] = 1;
            stack.push_back({child, depth + 1});
        }
    }
    return phrases;
}

}  // namespace

Result<WordStarts, std::string> word_starts_of(const Trie& trie, const InterruptCheck& interrupt) {
    InterruptPoll poll(interrupt);
    const std::uint64_t nodes = trie.child_labels.size();
    const std::uint64_t most_characters =
        nodes * WORD_START_CHARACTERS_PER_NODE + WORD_START_CHARACTERS_BEYOND;
    Result<std::vector<Phrase>, std::string> found = phrases_of(trie, most_characters, poll);
    if (!found.ok()) return found.error();
    std::vector<Phrase> phrases = std::move(found).value();
    std::sort(phrases.begin(), phrases.end(), [](const Phrase& a, const Phrase& b) {
        return std::tie(b.count, a.text) < std::tie(a.count, b.text);
    });

    WordStarts starts;
    starts.phrase_ends.reserve(phrases.size());
    starts.phrase_counts.reserve(phrases.size());
    // (word, phrase, ordinal) of every word of every phrase.
    std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>> occurrences;
    std::vector<WordSpan> spans;
    for (std::size_t p = 0; p < phrases.size(); ++p) {
        poll();
        starts.phrase_texts += phrases[p].text;
        starts.phrase_ends.push_back(starts.phrase_texts.size());
        starts.phrase_counts.push_back(phrases[p].count);
        const std::vector<char32_t> text = decode_utf8(phrases[p].text);
        split_words(text, spans);
        starts.most_words = std::max(starts.most_words, spans.size());
        for (std::size_t w = 0; w < spans.size(); ++w) {
            std::string word;
            for (std::size_t c = spans[w].begin; c < spans[w].end; ++c) append_utf8(word, text[c]);
            occurrences.emplace_back(std::move(word), static_cast<std::uint32_t>(p),
                                     static_cast<std::uint32_t>(w));
        }
        std::string().swap(phrases[p].text);
    }
    std::sort(occurrences.begin(), occurrences.end());

    // The distinct words, sorted, and where each one's postings begin.
    std::vector<std::string_view> words;
    std::vector<std::size_t> word_starts;
    starts.postings.reserve(occurrences.size());
    for (const auto& [word, phrase, ordinal] : occurrences) {
        if (words.empty() || words.back() != word) {
            words.push_back(word);
            word_starts.push_back(starts.postings.size());
        }
        starts.postings.push_back({phrase, ordinal});
    }
    word_starts.push_back(starts.postings.size());
    // A word counts what its best phrase counts (its first posting's), so
    // that the completion search takes words in the order of their best
    // phrases.
    const auto best_count = [&](std::size_t word) {
        return starts.phrase_counts[starts.postings[word_starts[word]].phrase];
    };
    // The words' trie keeps a count as its payload totals do, up to 2^32 - 1.
    InternalData data = columns::lay_out_sorted_terms(words, [&](std::size_t k, PayloadTable& out) {
        out.push(static_cast<std::uint32_t>(std::min<TermCount>(best_count(k), UINT32_MAX)), {},
                 {});
    });
    starts.words = assemble(std::move(data), VideoTable{}, 0);

    // Nodes are numbered in pre-order with children by label, so the
    // terminal nodes come in the order of the sorted words.
    const std::size_t node_count = starts.words.is_terminal.size();
    starts.posting_starts.assign(node_count + 1, 0);
    std::size_t next_word = 0;
    for (std::size_t node = 0; node < node_count; ++node) {
        starts.posting_starts[node] = word_starts[next_word];
        if (starts.words.is_terminal[node]) ++next_word;
    }
    starts.posting_starts[node_count] = word_starts[next_word];

    // Own counts are totals less the children's, which hold only while no
    // total saturates at 2^32 - 1: past that the search looks at every word.
    starts.best_counts_exact = true;
    next_word = 0;
    for (std::uint32_t node = 0; node < node_count; ++node) {
        if (!starts.words.is_terminal[node]) continue;
        starts.best_counts_exact &=
            starts.words.term_counts.own(starts.words, node) == best_count(next_word++);
    }
    return starts;
}

}  // namespace kelnor
