#include "python/call_guard.hpp"

#include <cstdio>
#include <cstdlib>

namespace kelnor::py {
namespace {

constexpr const char* PANIC_DOC =
    "The exception raised when the native code of _kelnor fails internally, for instance on a "
    "damaged index image.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it is not "
    "caught by ordinary error handling and typically propagates to the top of the program.";

// Process-wide, created on first need and never released.
PyObject* panic_exception_type() noexcept {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        PyObject* created = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_DOC,
                                                      PyExc_BaseException, nullptr);
        if (created == nullptr) {
            std::fputs("Failed to initialize new exception type.\n", stderr);
            std::abort();
        }
        type = created;
    }
    return type;
}

}  // namespace

void raise_value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    throw_python_error();
}

PyRef expect(PyObject* result) {
    if (result == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw_python_error();
        if (PyErr_Occurred()) PyErr_Print();
        throw InternalFailure("Python API call failed");
    }
    return PyRef(result);
}

void raise_panic(const char* message) noexcept {
    if (message == nullptr || *message == '\0') message = "internal failure without a message";
    std::fprintf(stderr, "_kelnor: internal failure: %s\n", message);
    std::fflush(stderr);
    PyErr_SetString(panic_exception_type(), message);
}

void abort_uncaught() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
}

}  // namespace kelnor::py
