#include "py_binder.hpp"
#include "py_call_guard.hpp"
#include "py_methods.hpp"
#include "py_prefix_search.hpp"

namespace kelnor::py {
namespace {

constexpr const char* kFromBytesNames[] = {"b"};
constexpr MethodParameters kFromBytes{"PrefixSearch.from_bytes()", kFromBytesNames, 1};

}  // namespace

PyObject* to_bytes(PyObject* self, PyObject*) {
    return call_guarded([&]() -> PyRef {
        ReceiverBorrow receiver(self);
        PyErr_SetString(PyExc_NotImplementedError, "to_bytes is not built yet");
        throw_python_error();
    });
}

PyObject* from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[1];
        bind_arguments(kFromBytes, args, nargs, keyword_names, slots);
        PyErr_SetString(PyExc_NotImplementedError, "from_bytes is not built yet");
        throw_python_error();
    });
}

}  // namespace kelnor::py
