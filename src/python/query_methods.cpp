// PrefixSearch.fuzzy_match, PrefixSearch.fuzzy_match_video,
// PrefixSearch.suggest and PrefixSearch.search: the call into the matchers,
// without the interpreter lock, and the result lists.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"
#include "python/results.hpp"

namespace kelnor::py {
namespace {

constexpr const char* MATCH_NAMES[] = {"term", "max_dist", "limit"};
constinit MethodParameters MATCH{"PrefixSearch.fuzzy_match()", MATCH_NAMES, 1};

constexpr const char* VIDEO_NAMES[] = {"term", "max_dist", "limit", "include_prefix_nodes",
                                       "min_score"};
constinit MethodParameters VIDEO{"PrefixSearch.fuzzy_match_video()", VIDEO_NAMES, 1};

constexpr const char* SUGGEST_NAMES[] = {"text", "max_dist", "limit", "complete", "transpositions"};
constinit MethodParameters SUGGEST{"PrefixSearch.suggest()", SUGGEST_NAMES, 1, 3};

constexpr const char* SEARCH_NAMES[] = {"text",     "max_dist",       "limit",
                                        "complete", "transpositions", "min_score"};
constinit MethodParameters SEARCH{"PrefixSearch.search()", SEARCH_NAMES, 1, 3};

constexpr const char* WORDS_NAMES[] = {"text"};
constinit MethodParameters WORDS{"_search_words()", WORDS_NAMES, 1};

// An explicit None is not a distance: it fails like any non-integer.
constexpr std::uint32_t DEFAULT_MAX_DIST = 1;
constexpr std::uint32_t DEFAULT_SUGGESTIONS = 10;
constexpr std::uint32_t DEFAULT_SEARCH_VIDEOS = 10;

}  // namespace

PyObject* fuzzy_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[3];
        bind_arguments(MATCH, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        const std::string_view term = convert_argument("term", slots[0], to_utf8);
        const std::uint32_t max_dist = convert_or("max_dist", slots[1], DEFAULT_MAX_DIST, to_u32);
        const std::optional<std::uint32_t> limit = convert_optional("limit", slots[2], to_u32);

        const Trie& trie = receiver.value().trie;
        const std::vector<MatchResult> results =
            without_interpreter_lock([&](const InterruptCheck& interrupt) {
                return kelnor::fuzzy_match(trie, term, max_dist, limit, interrupt);
            });
        return list_of<MatchResult>(results, [&](const MatchResult& result) {
            const long terminal = checked_at(trie.is_terminal, result.node) ? 1 : 0;
            return tuple_of(to_str(result.term), expect(PyLong_FromLong(terminal)),
                            expect(PyLong_FromUnsignedLong(result.distance)));
        });
    });
}

PyObject* fuzzy_match_video(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[5];
        bind_arguments(VIDEO, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        const std::string_view term = convert_argument("term", slots[0], to_utf8);
        const std::uint32_t max_dist = convert_or("max_dist", slots[1], DEFAULT_MAX_DIST, to_u32);
        const std::optional<std::uint32_t> limit = convert_optional("limit", slots[2], to_u32);
        const std::optional<bool> include_prefix_nodes =
            convert_optional("include_prefix_nodes", slots[3], to_flag);
        const std::optional<double> min_score = convert_optional("min_score", slots[4], to_double);

        const std::vector<VideoScore> scores =
            without_interpreter_lock([&](const InterruptCheck& interrupt) {
                return kelnor::fuzzy_match_video(receiver.value().trie, term, max_dist, limit,
                                                 include_prefix_nodes, min_score, interrupt);
            });
        return list_of<VideoScore>(scores, [](const VideoScore& score) {
            return tuple_of(to_str(score.video_id), expect(PyFloat_FromDouble(score.score)));
        });
    });
}

PyObject* suggest(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[5];
        bind_arguments(SUGGEST, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        const std::string_view text = convert_argument("text", slots[0], to_utf8);
        SuggestOptions options;
        const std::optional<std::uint32_t> max_dist =
            convert_optional("max_dist", slots[1], to_u32);
        options.max_dist = max_dist ? *max_dist : default_suggest_bound(text);
        options.limit =
            slots[2] == nullptr ? DEFAULT_SUGGESTIONS : convert_optional("limit", slots[2], to_u32);
        options.complete = convert_or("complete", slots[3], true, to_flag);
        options.transpositions = convert_or("transpositions", slots[4], true, to_flag);

        const std::vector<Suggestion> suggestions =
            without_interpreter_lock([&](const InterruptCheck& interrupt) {
                const PrefixSearch& index = receiver.value();
                std::vector<Suggestion> found =
                    kelnor::suggest(index.trie, text, options, interrupt, index.word_starts.get());
                show_spellings(index, found);
                return found;
            });
        return list_of<Suggestion>(suggestions, [](const Suggestion& suggestion) {
            return tuple_of(to_str(suggestion.term),
                            expect(PyLong_FromUnsignedLong(suggestion.distance)),
                            expect(PyLong_FromUnsignedLongLong(suggestion.count)));
        });
    });
}

PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[6];
        bind_arguments(SEARCH, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        const std::string_view text = convert_argument("text", slots[0], to_utf8);
        SearchOptions options;
        options.max_dist = convert_optional("max_dist", slots[1], to_u32);
        options.limit = slots[2] == nullptr ? DEFAULT_SEARCH_VIDEOS
                                            : convert_optional("limit", slots[2], to_u32);
        options.complete = convert_or("complete", slots[3], true, to_flag);
        options.transpositions = convert_or("transpositions", slots[4], true, to_flag);
        options.min_score = convert_or("min_score", slots[5], 0.0, to_double);

        Result<std::vector<VideoScore>, TooManyWords> found =
            without_interpreter_lock([&](const InterruptCheck& interrupt) {
                return kelnor::search(receiver.value().trie, text, options, interrupt);
            });
        if (!found.ok()) {
            raise_value_error("PrefixSearch.search() takes at most " +
                              std::to_string(MAX_SEARCH_WORDS) + " words; the text has " +
                              std::to_string(found.error().count));
        }
        return list_of<VideoScore>(found.value(), [](const VideoScore& score) {
            return tuple_of(to_str(score.video_id), expect(PyLong_FromUnsignedLong(score.words)),
                            expect(PyFloat_FromDouble(score.score)));
        });
    });
}

PyObject* search_words(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[1];
        bind_arguments(WORDS, args, nargs, keyword_names, slots);
        const std::string_view text = convert_argument("text", slots[0], to_utf8);
        const SearchWords found = kelnor::search_words(text, text.size());
        PyRef list = expect(PyList_New(static_cast<Py_ssize_t>(found.words.size())));
        for (std::size_t k = 0; k < found.words.size(); ++k) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k),
                            to_str(found.words[k]).release());
        }
        return list;
    });
}

}  // namespace kelnor::py
