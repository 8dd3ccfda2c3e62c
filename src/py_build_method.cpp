#include "py_binder.hpp"
#include "py_call_guard.hpp"
#include "py_methods.hpp"

namespace kelnor::py {
namespace {

constexpr const char* kNames[] = {"node_shifts",       "child_labels", "payloads",
                                  "child_transitions", "video_index",  "video_top_n"};
constexpr MethodParameters kParameters{"PrefixSearch.from_internal_data_v2()", kNames, 6};

}  // namespace

PyObject* from_internal_data_v2(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[6];
        bind_arguments(kParameters, args, nargs, keyword_names, slots);
        PyErr_SetString(PyExc_NotImplementedError, "from_internal_data_v2 is not built yet");
        throw_python_error();
    });
}

}  // namespace kelnor::py
