#include "python/query_kinds.hpp"

#include <string>

#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/results.hpp"

namespace kelnor::py {
namespace {

// An explicit None is not a distance: it fails like any non-integer.
constexpr std::uint32_t DEFAULT_MAX_DIST = 1;
constexpr std::uint32_t DEFAULT_SUGGESTIONS = 10;
constexpr std::uint32_t DEFAULT_SEARCH_VIDEOS = 10;

}  // namespace

MatchQuery::MatchQuery(std::span<PyObject* const> options)
    : max_dist(convert_or("max_dist", options[0], DEFAULT_MAX_DIST, to_u32)),
      limit(convert_optional("limit", options[1], to_u32)) {}

MatchQuery::Answer MatchQuery::ask(const PrefixSearch& index, std::string_view term,
                                   const InterruptCheck& interrupt) const {
    return kelnor::fuzzy_match(index.trie, term, max_dist, limit, interrupt);
}

PyRef MatchQuery::result(const PrefixSearch& index, const Answer& answer) const {
    return list_of<MatchResult>(answer, [&](const MatchResult& match) {
        const long terminal = checked_at(index.trie.is_terminal, match.node) ? 1 : 0;
        return tuple_of_atoms(to_str(match.term), expect(PyLong_FromLong(terminal)),
                              expect(PyLong_FromUnsignedLong(match.distance)));
    });
}

VideoQuery::VideoQuery(std::span<PyObject* const> options)
    : max_dist(convert_or("max_dist", options[0], DEFAULT_MAX_DIST, to_u32)),
      limit(convert_optional("limit", options[1], to_u32)),
      include_prefix_nodes(convert_optional("include_prefix_nodes", options[2], to_flag)),
      min_score(convert_optional("min_score", options[3], to_double)) {}

VideoQuery::Answer VideoQuery::ask(const PrefixSearch& index, std::string_view term,
                                   const InterruptCheck& interrupt) const {
    return kelnor::fuzzy_match_video(index.trie, term, max_dist, limit, include_prefix_nodes,
                                     min_score, interrupt);
}

PyRef VideoQuery::result(const PrefixSearch&, const Answer& answer) const {
    return list_of<VideoScore>(answer, [](const VideoScore& score) {
        return tuple_of_atoms(to_str(score.video_id), expect(PyFloat_FromDouble(score.score)));
    });
}

SuggestQuery::SuggestQuery(std::span<PyObject* const> options)
    : max_dist(convert_optional("max_dist", options[0], to_u32)) {
    this->options.limit =
        options[1] == nullptr ? DEFAULT_SUGGESTIONS : convert_optional("limit", options[1], to_u32);
    this->options.complete = convert_or("complete", options[2], true, to_flag);
    this->options.transpositions = convert_or("transpositions", options[3], true, to_flag);
}

SuggestQuery::Answer SuggestQuery::ask(const PrefixSearch& index, std::string_view text,
                                       const InterruptCheck& interrupt) const {
    SuggestOptions asked = options;
    asked.max_dist = max_dist ? *max_dist : default_suggest_bound(text);
    Answer found = kelnor::suggest(index.trie, text, asked, interrupt, index.word_starts.get());
    show_spellings(index, found);
    return found;
}

PyRef SuggestQuery::result(const PrefixSearch&, const Answer& answer) const {
    return list_of<Suggestion>(answer, [](const Suggestion& suggestion) {
        return tuple_of_atoms(to_str(suggestion.term),
                              expect(PyLong_FromUnsignedLong(suggestion.distance)),
                              expect(PyLong_FromUnsignedLongLong(suggestion.count)));
    });
}

SearchQuery::SearchQuery(std::span<PyObject* const> options) {
    this->options.max_dist = convert_optional("max_dist", options[0], to_u32);
    this->options.limit = options[1] == nullptr ? DEFAULT_SEARCH_VIDEOS
                                                : convert_optional("limit", options[1], to_u32);
    this->options.complete = convert_or("complete", options[2], true, to_flag);
    this->options.transpositions = convert_or("transpositions", options[3], true, to_flag);
    this->options.min_score = convert_or("min_score", options[4], 0.0, to_double);
}

SearchQuery::Answer SearchQuery::ask(const PrefixSearch& index, std::string_view text,
                                     const InterruptCheck& interrupt) const {
    return kelnor::search(index.trie, text, options, interrupt);
}

PyRef SearchQuery::result(const PrefixSearch&, const Answer& answer) const {
    if (!answer.ok()) {
        raise_value_error("PrefixSearch.search() takes at most " +
                          std::to_string(MAX_SEARCH_WORDS) + " words; the text has " +
                          std::to_string(answer.error().count));
    }
    return list_of<VideoScore>(answer.value(), [](const VideoScore& score) {
        return tuple_of_atoms(to_str(score.video_id), expect(PyLong_FromUnsignedLong(score.words)),
                              expect(PyFloat_FromDouble(score.score)));
    });
}

}  // namespace kelnor::py
