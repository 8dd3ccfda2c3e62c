#include "py_binder.hpp"
#include "py_call_guard.hpp"
#include "py_methods.hpp"
#include "py_prefix_search.hpp"

namespace kelnor::py {
namespace {

constexpr const char* kMatchNames[] = {"term", "max_dist", "limit"};
constexpr MethodParameters kMatch{"PrefixSearch.fuzzy_match()", kMatchNames, 1};

constexpr const char* kVideoNames[] = {"term", "max_dist", "limit", "include_prefix_nodes",
                                       "min_score"};
constexpr MethodParameters kVideo{"PrefixSearch.fuzzy_match_video()", kVideoNames, 1};

}  // namespace

PyObject* fuzzy_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[3];
        bind_arguments(kMatch, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        PyErr_SetString(PyExc_NotImplementedError, "fuzzy_match is not built yet");
        throw_python_error();
    });
}

PyObject* fuzzy_match_video(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[5];
        bind_arguments(kVideo, args, nargs, keyword_names, slots);
        ReceiverBorrow receiver(self);
        PyErr_SetString(PyExc_NotImplementedError, "fuzzy_match_video is not built yet");
        throw_python_error();
    });
}

}  // namespace kelnor::py
