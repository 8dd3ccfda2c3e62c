// The argument binder shared by every fast-call method.
//
// A method describes its parameters once (names in order, how many of the
// first are required); the binder fills one slot per parameter from the
// positional arguments and the keyword arguments, with the same messages for
// every method. Defaults are not the binder's business: an absent optional
// parameter leaves its slot null and the method body applies its default.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

namespace kelnor::py {

struct MethodParameters {
    const char* display_name;  // e.g. "PrefixSearch.fuzzy_match()"
    std::span<const char* const> names;
    std::size_t required;  // the first `required` parameters must be given
};

// Binds the arguments of a METH_FASTCALL | METH_KEYWORDS call into `slots`
// (one borrowed reference or null per parameter). On a binding error a
// TypeError is pending and PythonErrorSet is thrown.
void bind_arguments(const MethodParameters& parameters, PyObject* const* args,
                    Py_ssize_t positional_count, PyObject* keyword_names,
                    std::span<PyObject*> slots);

}  // namespace kelnor::py
