// PrefixSearch.fuzzy_match, PrefixSearch.fuzzy_match_video,
// PrefixSearch.suggest and PrefixSearch.search: one text asked of the core
// without the interpreter lock, as query_kinds.hpp runs each kind.
#include <cstddef>
#include <span>
#include <string_view>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"
#include "python/query_kinds.hpp"
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

// The text first, then the options, as the messages of a bad call have
// always come: the first bad argument in the order of the parameters.
template <class Query>
PyObject* single_query(MethodParameters& parameters, PyObject* self, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[MOST_PARAMETERS];
        const std::span<PyObject*> bound(slots, parameters.names.size());
        bind_arguments(parameters, args, nargs, keyword_names, bound);
        ReceiverBorrow receiver(self);
        const std::string_view text = convert_argument(Query::TEXT, slots[0], to_utf8);
        const Query query(bound.subspan(1));
        const PrefixSearch& index = receiver.value();
        const typename Query::Answer answer = without_interpreter_lock(
            [&](const InterruptCheck& interrupt) { return query.ask(index, text, interrupt); });
        return query.result(index, answer);
    });
}

}  // namespace

PyObject* fuzzy_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names) {
    return single_query<MatchQuery>(MATCH, self, args, nargs, keyword_names);
}

PyObject* fuzzy_match_video(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* keyword_names) {
    return single_query<VideoQuery>(VIDEO, self, args, nargs, keyword_names);
}

PyObject* suggest(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* keyword_names) {
    return single_query<SuggestQuery>(SUGGEST, self, args, nargs, keyword_names);
}

PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return single_query<SearchQuery>(SEARCH, self, args, nargs, keyword_names);
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
