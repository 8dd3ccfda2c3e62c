#include "python/convert.hpp"

#include <limits>
#include <string>

#include "python/call_guard.hpp"
#include "python/sequence.hpp"

namespace kelnor::py {
namespace {

// The qualified name of the type of `value`, for messages.
PyRef type_qualname(PyObject* value) {
    PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) return name;
    PyErr_Clear();
    return check(PyUnicode_FromString("<failed to extract type name>"));
}

// numpy's boolean scalar (named bool_ before numpy 2) is the one non-bool
// flag that hosts pass around routinely.
bool is_numpy_bool(PyObject* value) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    PyRef name(PyObject_GetAttrString(type, "__name__"));
    PyRef module(name ? PyObject_GetAttrString(type, "__module__") : nullptr);
    if (!module) {
        PyErr_Clear();
        return false;
    }
    const auto equals = [](PyObject* text, const char* expected) {
        return PyUnicode_Check(text) && PyUnicode_CompareWithASCIIString(text, expected) == 0;
    };
    return (equals(name.get(), "bool_") || equals(name.get(), "bool")) &&
           equals(module.get(), "numpy");
}

bool numpy_bool_value(PyObject* value) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    const PyRef method = optional_attribute(type, "__bool__");
    if (!method) {
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                     type);
        throw_python_error();
    }
    PyRef result = check(PyObject_CallOneArg(method.get(), value));
    if (result.get() != Py_True && result.get() != Py_False) {
        raise_cannot_convert(result.get(), "PyBool");
    }
    return result.get() == Py_True;
}

// Fills `values` (cleared first, so that one vector serves many lists).
void read_u32_sequence(PyObject* sequence, std::vector<std::uint32_t>& values) {
    values.clear();
    values.reserve(size_hint(sequence));
    for_each_item(sequence, [&](PyObject* item) { values.push_back(to_u32(item)); });
}

// Refuses a sequence too long for any array of an index, before reading it;
// describe() names it, only when it is refused.
template <class Describe>
void refuse_unaddressable(PyObject* sequence, Describe&& describe) {
    if (const PyRef length = unaddressable_length(sequence)) {
        raise_unaddressable(length.get(), describe());
    }
}

}  // namespace

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

PyRef optional_attribute(PyObject* object, const char* name) {
    PyRef value(PyObject_GetAttrString(object, name));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
    }
    return value;
}

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

std::uint8_t to_byte(PyObject* value) {
    const std::uint32_t wide = to_u32(value);
    if (wide > 0xFF) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        throw_python_error();
    }
    return static_cast<std::uint8_t>(wide);
}

double to_double(PyObject* value) {
    if (PyFloat_Check(value)) return PyFloat_AS_DOUBLE(value);
    const double converted = PyFloat_AsDouble(value);
    if (converted == -1.0 && PyErr_Occurred()) throw_python_error();
    return converted;
}

bool to_flag(PyObject* value) {
    if (value == Py_True || value == Py_False) return value == Py_True;
    if (is_numpy_bool(value)) return numpy_bool_value(value);
    raise_cannot_convert(value, "PyBool");
}

std::string_view to_utf8(PyObject* value) {
    if (!PyUnicode_Check(value)) raise_cannot_convert(value, "PyString");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) throw_python_error();
    return {data, static_cast<std::size_t>(size)};
}

std::span<const std::uint8_t> as_bytes(PyObject* value) {
    if (!PyBytes_Check(value)) raise_cannot_convert(value, "PyBytes");
    return {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(value)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(value))};
}

TermSpellings to_spellings(PyObject* value) {
    if (!PyDict_Check(value)) raise_cannot_convert(value, "dict[str, str]");
    TermSpellings spellings;
    spellings.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(value)));
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* spelling = nullptr;
    // Reading a str's UTF-8 runs no Python code, so the dict cannot change
    // while it is walked.
    while (PyDict_Next(value, &position, &key, &spelling)) {
        if (!PyUnicode_Check(key) || !PyUnicode_Check(spelling)) {
            raise_cannot_convert(value, "dict[str, str]");
        }
        const std::string_view key_text = to_utf8(key);
        const std::string_view spelling_text = to_utf8(spelling);
        // An index holds no U+0000, and an index file ends each text with one.
        if (key_text.find('\0') != std::string_view::npos ||
            spelling_text.find('\0') != std::string_view::npos) {
            raise_value_error("a spelling holds '\\x00', which an index cannot hold");
        }
        spellings.emplace(key_text, spelling_text);
    }
    return spellings;
}

std::vector<std::uint32_t> to_u32_vector(PyObject* sequence) {
    std::vector<std::uint32_t> values;
    read_u32_sequence(sequence, values);
    return values;
}

std::vector<char32_t> to_labels(PyObject* sequence) {
    std::vector<char32_t> labels;
    labels.reserve(size_hint(sequence));
    for_each_item(sequence,
                  [&](PyObject* item) { labels.push_back(label_code_point(to_utf8(item))); });
    return labels;
}

std::vector<PyRef> to_object_vector(PyObject* sequence) {
    std::vector<PyRef> objects;
    objects.reserve(size_hint(sequence));
    for_each_item(sequence, [&](PyObject* item) { objects.push_back(PyRef::borrowed(item)); });
    return objects;
}

VideoIndexBytes to_video_index(PyObject* sequence) {
    VideoIndexBytes index;
    for_each_item(sequence, [&](PyObject* entry) {
        if (PyBytes_CheckExact(entry)) {
            for (const std::uint8_t byte : as_bytes(entry)) index.push_byte(byte);
        } else {
            for_each_item(entry, [&](PyObject* byte) { index.push_byte(to_byte(byte)); });
        }
        index.end_entry();
    });
    return index;
}

PayloadTable to_payloads(const std::vector<PyRef>& entries) {
    PayloadTable table;
    table.reserve(entries.size(), 0);
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
    for (std::size_t node = 0; node < entries.size(); ++node) {
        PyObject* payload = entries[node].get();
        if (payload == Py_None) {
            table.push_absent();
            continue;
        }
        if (!PyTuple_Check(payload)) raise_cannot_convert(payload, "PyTuple");
        if (PyTuple_GET_SIZE(payload) != 3) raise_value_error("Payload tuple must have 3 elements");
        const std::uint32_t total_count = to_u32(PyTuple_GET_ITEM(payload, 0));
        const auto read_list = [&](Py_ssize_t field, const char* name, auto& values) {
            PyObject* list = PyTuple_GET_ITEM(payload, field);
            refuse_unaddressable(list, [&] {
                return std::string(name) + " of payloads[" + std::to_string(node) + "]";
            });
            read_u32_sequence(list, values);
        };
        read_list(1, "video_ids", video_ids);
        read_list(2, "video_counts", video_counts);
        if (video_ids.size() != video_counts.size()) {
            raise_value_error("video_ids and video_counts length mismatch");
        }
        table.push(total_count, video_ids, video_counts);
    }
    return table;
}

void refuse_unaddressable_argument(const char* name, PyObject* sequence) {
    refuse_unaddressable(sequence, [&] { return std::string(name); });
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
