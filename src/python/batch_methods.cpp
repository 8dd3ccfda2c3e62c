// PrefixSearch.fuzzy_match_many, fuzzy_match_video_many, suggest_many and
// search_many: a single call's query for every text of a sequence or an
// Arrow column, run on native threads (run_batch()) with the interpreter
// lock released for the whole batch, the answers in input order. The calling
// thread takes the lock back for the moments it turns answered chunks into
// the result's objects, while the other threads go on with the queries.
#include <cstddef>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kelnor.hpp"
#include "python/batch_texts.hpp"
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

constexpr const char* MATCH_NAMES[] = {"terms", "max_dist", "limit", "workers"};
constinit MethodParameters MATCH{"PrefixSearch.fuzzy_match_many()", MATCH_NAMES, 1, 3};

constexpr const char* VIDEO_NAMES[] = {"terms",     "max_dist", "limit", "include_prefix_nodes",
                                       "min_score", "workers"};
constinit MethodParameters VIDEO{"PrefixSearch.fuzzy_match_video_many()", VIDEO_NAMES, 1, 5};

constexpr const char* SUGGEST_NAMES[] = {"texts",    "max_dist",       "limit",
                                         "complete", "transpositions", "workers"};
constinit MethodParameters SUGGEST{"PrefixSearch.suggest_many()", SUGGEST_NAMES, 1, 3};

constexpr const char* SEARCH_NAMES[] = {"texts",          "max_dist",  "limit",  "complete",
                                        "transpositions", "min_score", "workers"};
constinit MethodParameters SEARCH{"PrefixSearch.search_many()", SEARCH_NAMES, 1, 3};

// How many places ahead in the answering order a batch asks for a text's
// view, and then for its bytes (see batch_query()).
constexpr std::size_t VIEWS_AHEAD = 8;
constexpr std::size_t BYTES_AHEAD = 4;

// workers: -1 for every core, else a count from 1; 0 for every core in the
// runner's terms.
std::size_t workers_argument(PyObject* slot) {
    if (slot == nullptr) return 1;
    const PyRef index = convert_argument("workers", slot, [](PyObject* value) {
        if (!PyLong_Check(value) && !PyIndex_Check(value)) raise_cannot_convert(value, "int");
        return check(PyNumber_Index(value));
    });
    int overflow = 0;
    const long long workers = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (workers == -1 && overflow == 0 && PyErr_Occurred()) throw_python_error();
    if (overflow > 0) return MOST_BATCH_WORKERS;
    if (overflow == 0 && workers == -1) return 0;
    if (overflow < 0 || workers < 1) {
        PyErr_Format(PyExc_ValueError, "workers must be -1 (every core) or a count from 1, not %S",
                     index.get());
        throw_python_error();
    }
    return static_cast<std::size_t>(workers);
}

// Raises the refusal that `answer` carries (search: too many words), named
// by its input's position.
template <class Query>
[[noreturn]] void raise_refused_answer(const Query& query, const PrefixSearch& index,
                                       const char* texts_name, std::size_t position,
                                       const typename Query::Answer& answer) {
    try {
        query.result(index, answer);
    } catch (const PythonErrorSet&) {
        PyRef error = fetch_exception();
        const PyRef message = check(PyObject_Str(error.get()));
        PyErr_Format(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), "argument '%s[%zu]': %U",
                     texts_name, position, message.get());
        throw_python_error();
    }
    throw InternalFailure("a refused answer converted without an error");
}

// A batch's results stay off the cycle collector's lists while it builds
// them, and join them before the caller sees them. Until then nothing but the
// batch refers to them and their tuples hold only atoms, so they can make no
// cycle; on the lists, every pass of the collector would walk all the answers
// built so far, which took a third of a short query's time. PyPy's collector
// keeps no such lists.
void leave_out_of_collection([[maybe_unused]] PyObject* result) {
#ifndef PYPY_VERSION
    PyObject_GC_UnTrack(result);
#endif
}

// The results back on the collector's lists, before the list of them joins
// them too (ListFilling::whole()).
void bring_into_collection([[maybe_unused]] const ListFilling& results) {
#ifndef PYPY_VERSION
    // The lists lie where they were made, in the order of their texts'
    // answers, not of their positions: the collector's links of the lists a
    // few positions on (just before each object) are asked for while these
    // are linked, rather than missed one after another.
    constexpr Py_ssize_t AHEAD = 8;
    const Py_ssize_t size = results.size();
    for (Py_ssize_t k = 0; k < size; ++k) {
        if (k + AHEAD < size) {
            __builtin_prefetch(reinterpret_cast<const char*>(results.at(k + AHEAD)) - 1, 1);
        }
        PyObject* result = results.at(k);
        if (!PyObject_GC_IsTracked(result)) PyObject_GC_Track(result);
    }
#endif
}

// Raises what a loop of single calls raises first: the failure of the first
// input, in input order, whose query fails. The batch answers in another
// order, and stopped at input order[failed_at]: the inputs answered before
// it did not fail, and those before it in input order that were not answered
// yet are asked again, alone and in input order. A refusal is raised with
// its input's position; what a query threw is thrown as it is.
template <class Query>
[[noreturn]] void raise_first_failure(const Query& query, const PrefixSearch& index,
                                      std::span<const std::string_view> texts,
                                      const char* texts_name, std::span<const std::size_t> order,
                                      std::size_t failed_at, const std::exception_ptr& failure,
                                      const std::optional<typename Query::Answer>& refusal) {
    std::vector<bool> answered(texts.size(), false);
    for (std::size_t p = 0; p < failed_at; ++p) answered[order[p]] = true;
    for (std::size_t input = 0; input < order[failed_at]; ++input) {
        if (answered[input]) continue;
        const typename Query::Answer answer =
            without_interpreter_lock([&](const InterruptCheck& interrupt) {
                return query.ask(index, texts[input], interrupt);
            });
        if (!Query::answered(answer)) raise_refused_answer(query, index, texts_name, input, answer);
    }
    if (failure) std::rethrow_exception(failure);
    raise_refused_answer(query, index, texts_name, order[failed_at], *refusal);
}

template <class Query>
PyObject* batch_query(MethodParameters& parameters, PyObject* self, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* keyword_names) {
    using Answer = typename Query::Answer;
    return call_guarded([&]() -> PyRef {
        PyObject* slots[MOST_PARAMETERS];
        const std::size_t count = parameters.names.size();
        const std::span<PyObject*> bound(slots, count);
        bind_arguments(parameters, args, nargs, keyword_names, bound);
        ReceiverBorrow receiver(self);
        const Query query(bound.subspan(1, count - 2));
        const std::size_t workers = workers_argument(slots[count - 1]);
        const char* texts_name = parameters.names[0];
        BatchTexts batch(texts_name, slots[0]);
        const std::span<const std::string_view> texts = batch.texts();

        const PrefixSearch& index = receiver.value();
        const AnsweringOrder order = answering_order(texts);
        // answers[p] is the answer of input order.inputs[p], from its query
        // until the thread that asked it lets go of it once it is converted;
        // a repeated text's stays empty.
        std::vector<std::optional<Answer>> answers(texts.size());
        // Its slots stay null until their answers are converted, while other
        // threads run Python.
        ListFilling list(std::ssize(answers));
        // Puts the result of place p of the order at its text's position: a
        // repeat's is a list of its own, of the same (immutable) tuples as the
        // result of the place it was asked at, put there already.
        const auto put_result = [&](std::size_t p) {
            const auto position = [&](std::size_t place) {
                return static_cast<Py_ssize_t>(order.inputs[place]);
            };
            const std::size_t asked = order.asked_at[p];
            PyRef result =
                asked == p ? query.result(index, *answers[p])
                           : expect(PyList_GetSlice(list.at(position(asked)), 0, PY_SSIZE_T_MAX));
            leave_out_of_collection(result.get());
            list.set(position(p), std::move(result));
        };
        // What the conversion of the answers threw, which ends the batch.
        std::exception_ptr conversion_failure;
        BatchOutcome outcome;
        {
            LockRelease release;
            outcome = run_batch(
                texts.size(), batch_threads(workers, texts.size()), release.interrupt_check(),
                [&](std::size_t p, const InterruptCheck& interrupt) {
                    // The texts lie where their strings were made and are
                    // asked in another order: a few places on, their views
                    // and then their bytes are asked for while this query runs
                    // (a tenth of a short query's time on different words).
                    if (p + VIEWS_AHEAD < texts.size()) {
                        __builtin_prefetch(&texts[order.inputs[p + VIEWS_AHEAD]]);
                    }
                    if (p + BYTES_AHEAD < texts.size()) {
                        __builtin_prefetch(texts[order.inputs[p + BYTES_AHEAD]].data());
                    }
                    if (order.asked_at[p] != p) return true;
                    answers[p].emplace(query.ask(index, texts[order.inputs[p]], interrupt));
                    return Query::answered(*answers[p]);
                },
                [&](std::size_t begin, std::size_t end) {
                    return release.holding_lock([&]() noexcept {
                        try {
                            for (std::size_t p = begin; p < end; ++p) put_result(p);
                            return true;
                        } catch (...) {
                            conversion_failure = std::current_exception();
                            return false;
                        }
                    });
                },
                [&](std::size_t begin, std::size_t end) {
                    for (std::size_t p = begin; p < end; ++p) answers[p].reset();
                });
        }
        if (conversion_failure) std::rethrow_exception(conversion_failure);
        if (outcome.interrupted) throw Interrupted();
        if (outcome.failed_at) {
            raise_first_failure(query, index, texts, texts_name, order.inputs, *outcome.failed_at,
                                outcome.failure, answers[*outcome.failed_at]);
        }
        batch.raise_refusal();
        bring_into_collection(list);
        return std::move(list).whole();
    });
}

}  // namespace

PyObject* fuzzy_match_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* keyword_names) {
    return batch_query<MatchQuery>(MATCH, self, args, nargs, keyword_names);
}

PyObject* fuzzy_match_video_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* keyword_names) {
    return batch_query<VideoQuery>(VIDEO, self, args, nargs, keyword_names);
}

PyObject* suggest_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* keyword_names) {
    return batch_query<SuggestQuery>(SUGGEST, self, args, nargs, keyword_names);
}

PyObject* search_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names) {
    return batch_query<SearchQuery>(SEARCH, self, args, nargs, keyword_names);
}

}  // namespace kelnor::py
