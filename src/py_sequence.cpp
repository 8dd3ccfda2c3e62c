#include "py_sequence.hpp"

#include "py_convert.hpp"

namespace kelnor::py {

void require_sequence(PyObject* value) {
    if (PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw_python_error();
    }
    if (!PySequence_Check(value)) raise_cannot_convert(value, "Sequence");
}

std::size_t size_hint(PyObject* sequence) noexcept {
    if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
        return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence));
    }
    return 0;
}

}  // namespace kelnor::py
