// Conversions of Python argument values to native values, shared by every
// method, with the module's fixed error texts.
//
// Each function either returns the native value or leaves a Python exception
// pending and throws PythonErrorSet (see py_call_guard.hpp).
#pragma once

#include <Python.h>

#include <cstdint>
#include <string_view>

#include "python/call_guard.hpp"

namespace kelnor::py {

// TypeError "'{qualified type name of value}' object cannot be converted to '{target}'".
[[noreturn]] void raise_cannot_convert(PyObject* value, const char* target);

// An int (or any object with __index__) from 0 to 4294967295. Out of range:
// the interpreter's OverflowError for negative values and values of 2**64 or
// more, else OverflowError "out of range integral type conversion attempted".
std::uint32_t to_u32(PyObject* value);

// A str (or subclass) as UTF-8, viewed in place for as long as `value` lives.
// Anything else: TypeError "... cannot be converted to 'PyString'"; a string
// without a UTF-8 form: the interpreter's UnicodeEncodeError.
std::string_view to_utf8(PyObject* value);

// Replaces a pending TypeError (exactly TypeError, not a subclass) by
// TypeError "argument '{name}': {message}" that keeps the original's cause.
// Other pending exceptions are left as they are.
void prefix_argument_error(const char* name);

// Runs a conversion of the argument `name`, prefixing its TypeError.
template <class Convert>
decltype(auto) convert_argument(const char* name, Convert&& convert) {
    try {
        return convert();
    } catch (const PythonErrorSet&) {
        prefix_argument_error(name);
        throw;
    }
}

}  // namespace kelnor::py
