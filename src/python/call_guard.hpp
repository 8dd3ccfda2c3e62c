// The one place where failures become Python exceptions.
//
// Every entry point of the module runs its body through call_guarded():
//  - PythonErrorSet means "a Python exception is already pending": the body
//    (or a helper) saw an interpreter call fail and threw this sentinel;
//    kelnor::Interrupted means the same, from the core, after the body's
//    InterruptCheck saw a signal handler raise (see lock_release.hpp);
//  - kelnor::InternalFailure (a violated invariant in the core) is written to
//    standard error and raised as PanicException, which derives from
//    BaseException so that `except Exception` does not swallow it;
//  - std::bad_alloc becomes MemoryError.
// Destructors run on the way out, so borrows and references taken by the body
// are given back and the object stays usable.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <string>

#include "kelnor.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

// Sentinel: a Python exception is set and the call must return null.
struct PythonErrorSet {};

[[noreturn]] inline void throw_python_error() {
    throw PythonErrorSet{};
}

// ValueError(message): how a failure the core returns as a value (a build
// refused, an image that does not decode) reaches the host.
[[noreturn]] void raise_value_error(const std::string& message);

// For interpreter calls whose failure is the caller's business (conversions):
// a null result means a pending Python exception.
inline PyRef check(PyObject* result) {
    if (result == nullptr) throw_python_error();
    return PyRef(result);
}

// For interpreter calls that build results and are not expected to fail but
// for want of memory: a pending MemoryError propagates as it is; any other
// failure is printed and becomes an internal failure.
PyRef expect(PyObject* result);

// Sets PanicException(message) as the pending exception, after writing the
// message to standard error.
void raise_panic(const char* message) noexcept;

// Ends the process: a failure escaped the guard itself.
[[noreturn]] void abort_uncaught() noexcept;

// Sets up the calling thread's C++ exception state, if it has none yet.
// The C++ runtime is loaded with the module, so that state is thread-local
// data that the C library allocates on its first use in each thread, and ends
// the process when it cannot. Touched before any body runs, it exists while
// memory is still to be had, and a std::bad_alloc thrown when memory is gone
// can be thrown and caught. (The query is declared pure: only a use of its
// answer keeps the call.)
inline void prepare_thread_for_exceptions() noexcept {
    [[maybe_unused]] volatile int in_flight = std::uncaught_exceptions();
}

template <class Body>
PyObject* call_guarded(Body&& body) noexcept {
    prepare_thread_for_exceptions();
    try {
        try {
            return body().release();
        } catch (const PythonErrorSet&) {
            return nullptr;
        } catch (const Interrupted&) {
            return nullptr;
        } catch (const InternalFailure& failure) {
            raise_panic(failure.what());
            return nullptr;
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return nullptr;
        } catch (const std::exception& failure) {
            raise_panic(failure.what());
            return nullptr;
        }
    } catch (...) {
        abort_uncaught();
    }
}

}  // namespace kelnor::py
