// The argument binder shared by every fast-call method.
//
// A method describes its parameters once (names in order, how many of the
// first are required); the binder fills one slot per parameter from the
// positional arguments and the keyword arguments, with the same messages for
// every method. Defaults are not the binder's business: an absent optional
// parameter leaves its slot null and the method body applies its default.
//
// Keyword names are matched by identity first: the names are interned once,
// on the first call that passes a keyword, and a call written with literal
// keywords passes the same interned objects. Any other str is matched by its
// text.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

namespace kelnor::py {

inline constexpr std::size_t MOST_PARAMETERS = 7;

class MethodParameters {
  public:
    // The parameters after the first `positional` can be given by keyword
    // only (all of them can be given positionally by default).
    template <std::size_t N>
    consteval MethodParameters(const char* display_name, const char* const (&names)[N],
                               std::size_t required, std::size_t positional = N)
        : display_name(display_name), names(names), required(required), positional(positional) {
        static_assert(N <= MOST_PARAMETERS, "raise MOST_PARAMETERS");
    }

    const char* const display_name;  // e.g. "PrefixSearch.fuzzy_match()"
    const std::span<const char* const> names;
    const std::size_t required;    // the first `required` parameters must be given
    const std::size_t positional;  // how many may be given positionally
    // The names as interned str objects, filled on first use and kept for the
    // life of the process (the module is never unloaded).
    std::array<PyObject*, MOST_PARAMETERS> interned{};
};

// Binds the arguments of a METH_FASTCALL | METH_KEYWORDS call into `slots`
// (one borrowed reference or null per parameter). On a binding error a
// TypeError is pending and PythonErrorSet is thrown.
// A fast-call entry point as the PyCFunction of a method table's row, which
// METH_FASTCALL | METH_KEYWORDS tells the interpreter to call as it is.
template <class Function>
PyCFunction as_cfunction(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

void bind_arguments(MethodParameters& parameters, PyObject* const* args,
                    Py_ssize_t positional_count, PyObject* keyword_names,
                    std::span<PyObject*> slots);

}  // namespace kelnor::py
