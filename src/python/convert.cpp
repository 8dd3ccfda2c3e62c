#include "python/convert.hpp"

#include <limits>

namespace kelnor::py {
namespace {

// The qualified name of the type of `value`, for messages.
PyRef type_qualname(PyObject* value) {
    PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) return name;
    PyErr_Clear();
    return check(PyUnicode_FromString("<failed to extract type name>"));
}

// Takes the pending exception, normalised; null when none is pending.
PyRef fetch_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyRef(PyErr_GetRaisedException());
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return PyRef();
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return PyRef(value);
#endif
}

}  // namespace

void raise_cannot_convert(PyObject* value, const char* target) {
    PyRef name = type_qualname(value);
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
    throw_python_error();
}

std::uint32_t to_u32(PyObject* value) {
    PyRef index;
    if (!PyLong_Check(value)) {
        index = check(PyNumber_Index(value));
        value = index.get();
    }
    unsigned long long wide = PyLong_AsUnsignedLongLong(value);
    if (wide == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
    if (wide > std::numeric_limits<std::uint32_t>::max()) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        throw_python_error();
    }
    return static_cast<std::uint32_t>(wide);
}

std::string_view to_utf8(PyObject* value) {
    if (!PyUnicode_Check(value)) raise_cannot_convert(value, "PyString");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) throw_python_error();
    return {data, static_cast<std::size_t>(size)};
}

void prefix_argument_error(const char* name) {
    PyObject* pending = PyErr_Occurred();
    if (pending == nullptr || pending != PyExc_TypeError) return;
    PyRef original = fetch_exception();
    PyRef text(PyObject_Str(original.get()));
    if (!text) return;  // the failure to render is the error now pending
    PyRef message(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    PyRef replaced(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replaced) return;
    PyException_SetCause(replaced.get(), PyException_GetCause(original.get()));
    PyErr_SetObject(PyExc_TypeError, replaced.get());
}

}  // namespace kelnor::py
