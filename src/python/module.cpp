// The module entry: single-phase init with a process-wide module cache, so a
// second import after removal from sys.modules yields the same module.
//
// The module, its type and its exception type belong to the main interpreter.
// A sub-interpreter that imported them would clear the shared module when it
// is destroyed, so the import is refused there.
#include <Python.h>

#include "python/call_guard.hpp"
#include "python/column_functions.hpp"
#include "python/convert.hpp"
#include "python/prefix_search_type.hpp"
#include "python/record_columns_type.hpp"

namespace kelnor::py {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_kelnor", "", 0, column_functions(), nullptr, nullptr, nullptr, nullptr,
};

constexpr int API_VERSION = 1013;

PyObject* cached_module = nullptr;

constexpr const char* SUB_INTERPRETER_REFUSAL =
    "_kelnor can be imported only in the main interpreter, not in a sub-interpreter";

// The module's __all__ list, created empty when the module has none.
PyRef all_list(PyObject* module) {
    PyRef all = optional_attribute(module, "__all__");
    if (!all) {
        all = check(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw_python_error();
    }
    if (!PyList_Check(all.get())) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyList'",
                     Py_TYPE(all.get())->tp_name);
        throw_python_error();
    }
    return all;
}

// ImportError unless the calling thread runs the main interpreter (PyPy has
// no other).
void require_main_interpreter() {
#ifndef PYPY_VERSION
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return;
    const PyRef message = check(PyUnicode_FromString(SUB_INTERPRETER_REFUSAL));
    const PyRef name = check(PyUnicode_FromString("_kelnor"));
    PyErr_SetImportError(message.get(), name.get(), nullptr);
    throw_python_error();
#endif
}

PyRef init_module() {
    require_main_interpreter();
    if (cached_module != nullptr) return PyRef::borrowed(cached_module);
    PyRef module(PyModule_Create2(&module_definition, API_VERSION));
    if (!module) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        throw_python_error();
    }
    PyObject* type = reinterpret_cast<PyObject*>(prefix_search_type());
    PyRef all = all_list(module.get());
    PyRef name = check(PyUnicode_FromString("PrefixSearch"));
    if (PyList_Append(all.get(), name.get()) < 0) throw_python_error();
    if (PyObject_SetAttr(module.get(), name.get(), type) < 0) throw_python_error();
    PyObject* record_columns = reinterpret_cast<PyObject*>(record_columns_type());
    if (PyObject_SetAttrString(module.get(), "_RecordColumns", record_columns) < 0) {
        throw_python_error();
    }
    cached_module = PyRef::borrowed(module.get()).release();
    return module;
}

}  // namespace
}  // namespace kelnor::py

PyMODINIT_FUNC PyInit__kelnor() {
    return kelnor::py::call_guarded(kelnor::py::init_module);
}
