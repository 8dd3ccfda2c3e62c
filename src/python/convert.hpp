// Every conversion of a Python value to a native one, shared by the methods,
// with the module's fixed error texts.
//
// Each function either returns the native value or leaves a Python exception
// pending and throws PythonErrorSet (see call_guard.hpp). The convert_*
// templates run a conversion for a named argument, so that its TypeError
// names the argument; the method files keep only their parameter lists and
// their bodies.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "kelnor.hpp"
#include "python/call_guard.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

// TypeError "'{qualified type name of value}' object cannot be converted to '{target}'".
[[noreturn]] void raise_cannot_convert(PyObject* value, const char* target);

// An int (or any object with __index__) from 0 to 4294967295. Out of range:
// the interpreter's OverflowError for negative values and values of 2**64 or
// more, else OverflowError "out of range integral type conversion attempted".
std::uint32_t to_u32(PyObject* value);

// As to_u32, from 0 to 255.
std::uint8_t to_byte(PyObject* value);

// A float, or anything float() accepts through __float__ or __index__.
double to_double(PyObject* value);

// True or False, or numpy's boolean scalar (by its __bool__); anything else:
// TypeError "... cannot be converted to 'PyBool'".
bool to_flag(PyObject* value);

// A str (or subclass) as UTF-8, viewed in place for as long as `value` lives.
// Anything else: TypeError "... cannot be converted to 'PyString'"; a string
// without a UTF-8 form: the interpreter's UnicodeEncodeError.
std::string_view to_utf8(PyObject* value);

// The contents of a bytes object (or subclass), viewed in place for as long as
// `value` lives; anything else: TypeError "... cannot be converted to 'PyBytes'".
std::span<const std::uint8_t> as_bytes(PyObject* value);

// A dict of str to str (either may be a subclass) as its UTF-8 pairs;
// anything else: TypeError "... cannot be converted to 'dict[str, str]'".
TermSpellings to_spellings(PyObject* value);

// The sequence readers (see sequence.hpp for how a sequence is read).
std::vector<std::uint32_t> to_u32_vector(PyObject* sequence);
// The first code point of each str item, 0 for "".
std::vector<char32_t> to_labels(PyObject* sequence);
// The items themselves, for a later pass (the payloads are read once the
// shape of the arrays has been checked).
std::vector<PyRef> to_object_vector(PyObject* sequence);
// Each entry a bytes object or a sequence of ints from 0 to 255.
VideoIndexBytes to_video_index(PyObject* sequence);

// Each payload entry None or a tuple (total_count, video_ids, video_counts),
// converted and checked node by node: the first failing node ends the build
// with its error, unprefixed (these are not arguments).
PayloadTable to_payloads(const std::vector<PyRef>& entries);

// Takes the pending exception, normalised; null when none is pending.
PyRef fetch_exception();

// The attribute `name` of `object`, or null when it has none, as hasattr()
// tells: an error other than AttributeError while looking it up is raised.
PyRef optional_attribute(PyObject* object, const char* name);

// Replaces a pending TypeError (exactly TypeError, not a subclass) by
// TypeError "argument '{name}': {message}" that keeps the original's cause.
// Other pending exceptions are left as they are.
void prefix_argument_error(const char* name);

// ValueError "{name} has {length} entries; ..." when the sequence argument
// `name` is too long for any array of an index (see unaddressable_length()).
void refuse_unaddressable_argument(const char* name, PyObject* sequence);

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

// convert(value) for the argument `name`, prefixing its TypeError.
template <class Convert>
decltype(auto) convert_argument(const char* name, PyObject* value, Convert&& convert) {
    return convert_argument(name, [&]() -> decltype(auto) { return convert(value); });
}

// An optional argument whose absence and None both mean "not given".
template <class Convert>
auto convert_optional(const char* name, PyObject* slot, Convert&& convert)
    -> std::optional<decltype(convert(slot))> {
    if (slot == nullptr || slot == Py_None) return std::nullopt;
    return convert_argument(name, slot, convert);
}

// An optional argument that takes `fallback` when absent; an explicit None is
// converted like any other value.
template <class T, class Convert>
T convert_or(const char* name, PyObject* slot, T fallback, Convert&& convert) {
    if (slot == nullptr) return fallback;
    return convert_argument(name, slot, convert);
}

// A sequence argument: its length is checked before any item is read.
template <class Convert>
decltype(auto) convert_sequence_argument(const char* name, PyObject* sequence, Convert&& convert) {
    refuse_unaddressable_argument(name, sequence);
    return convert_argument(name, sequence, convert);
}

}  // namespace kelnor::py
