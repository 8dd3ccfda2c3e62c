#include "python/binder.hpp"

#include <string>
#include <vector>

#include "python/call_guard.hpp"

namespace kelnor::py {
namespace {

[[noreturn]] void raise_too_many_positional(const MethodParameters& parameters, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (parameters.required == parameters.positional) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given",
                     parameters.display_name, parameters.positional, given, verb);
    } else {
        PyErr_Format(
            PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
            parameters.display_name, parameters.required, parameters.positional, given, verb);
    }
    throw_python_error();
}

// Once per method, on its first call with keywords; a name left uninterned by
// a MemoryError is tried again by the next such call.
void intern_names(MethodParameters& parameters) {
    for (std::size_t i = 0; i < parameters.names.size(); ++i) {
        if (parameters.interned[i] == nullptr) {
            parameters.interned[i] =
                check(PyUnicode_InternFromString(parameters.names[i])).release();
        }
    }
}

// The slot of the parameter named `keyword`, or names.size() when none is.
std::size_t find_parameter(const MethodParameters& parameters, PyObject* keyword) {
    const std::size_t count = parameters.names.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (parameters.interned[i] == keyword) return i;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, parameters.names[i]) == 0) return i;
    }
    return count;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string join_quoted(const std::vector<const char*>& names) {
    const std::size_t count = names.size();
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) joined += count == 2 ? " and " : (i + 1 == count ? ", and " : ", ");
        joined.append("'").append(names[i]).append("'");
    }
    return joined;
}

// Raises TypeError naming every required parameter whose slot is still empty,
// if there is one.
void check_required(const MethodParameters& parameters, std::span<PyObject*> slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < parameters.required; ++i) {
        if (slots[i] == nullptr) missing.push_back(parameters.names[i]);
    }
    const std::size_t count = missing.size();
    if (count == 0) return;
    std::string list = join_quoted(missing);
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s",
                 parameters.display_name, count, count == 1 ? "argument" : "arguments",
                 list.c_str());
    throw_python_error();
}

}  // namespace

void bind_arguments(MethodParameters& parameters, PyObject* const* args,
                    Py_ssize_t positional_count, PyObject* keyword_names,
                    std::span<PyObject*> slots) {
    const std::size_t count = parameters.names.size();
    if (static_cast<std::size_t>(positional_count) > parameters.positional) {
        raise_too_many_positional(parameters, positional_count);
    }
    for (std::size_t i = 0; i < count; ++i) {
        slots[i] = i < static_cast<std::size_t>(positional_count) ? args[i] : nullptr;
    }
    if (keyword_names != nullptr) {
        intern_names(parameters);
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(keyword_names);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* keyword = PyTuple_GET_ITEM(keyword_names, k);
            const std::size_t slot = find_parameter(parameters, keyword);
            if (slot == count) {
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                             parameters.display_name, keyword);
                throw_python_error();
            }
            if (slots[slot] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                             parameters.display_name, parameters.names[slot]);
                throw_python_error();
            }
            slots[slot] = args[positional_count + k];
        }
    }
    if (static_cast<std::size_t>(positional_count) < parameters.required) {
        check_required(parameters, slots);
    }
}

}  // namespace kelnor::py
