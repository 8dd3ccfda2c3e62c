#include "python/batch_texts.hpp"

#include <optional>

#include "kelnor.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/sequence.hpp"

namespace kelnor::py {
namespace {

// Ends a read at the first element that is no text.
struct ElementRefused {};

// Adds `note` to the pending exception's notes, as add_note() does (which
// the interpreters before 3.11 lack): for an error whose message the batch
// keeps as the single call words it (a UnicodeEncodeError, say).
void add_note(const std::string& note) {
    PyRef error = fetch_exception();
    PyRef notes(PyObject_GetAttrString(error.get(), "__notes__"));
    if (!notes) {
        PyErr_Clear();
        notes = check(PyList_New(0));
        if (PyObject_SetAttrString(error.get(), "__notes__", notes.get()) < 0) throw_python_error();
    }
    const PyRef text = check(PyUnicode_FromStringAndSize(note.data(), std::ssize(note)));
    if (!PyList_Check(notes.get()) || PyList_Append(notes.get(), text.get()) < 0) {
        throw_python_error();
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
}

}  // namespace

BatchTexts::BatchTexts(const char* name, PyObject* given) : name_(name) {
    // Looked up as hasattr() does, so that an error other than
    // AttributeError is raised rather than taken for a plain sequence.
    if (const PyRef array = optional_attribute(given, "__arrow_c_array__")) {
        read_arrow(array.get());
    } else if (const PyRef stream = optional_attribute(given, "__arrow_c_stream__")) {
        read_arrow(stream.get());
    } else {
        // No refusal of a long sequence before reading, as an index's arrays
        // have: a batch holds no index, and a range, the one long sequence
        // that costs nothing to make, fails at its first element as the loop
        // does.
        convert_argument(name, given, [&](PyObject* sequence) {
            read_sequence(sequence);
            return 0;
        });
    }
}

void BatchTexts::raise_refusal() {
    if (!refusal_) return;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(refusal_.get())), refusal_.get());
    throw_python_error();
}

std::string BatchTexts::element_name(std::size_t position) const {
    return std::string(name_) + "[" + std::to_string(position) + "]";
}

void BatchTexts::refuse(std::size_t position) {
    if (PyErr_Occurred() != PyExc_TypeError) {
        add_note("in argument '" + element_name(position) + "'");
    }
    refusal_ = fetch_exception();
    throw ElementRefused{};
}

void BatchTexts::read_sequence(PyObject* sequence) {
    const std::size_t hint = size_hint(sequence);
    items_.reserve(hint);
    texts_.reserve(hint);
    try {
        for_each_item(sequence, [&](PyObject* item) {
            const std::size_t position = texts_.size();
            try {
                texts_.push_back(to_utf8(item));
            } catch (const PythonErrorSet&) {
                // Named only when it fails: a name for every element cost
                // more than reading it.
                prefix_argument_error(element_name(position).c_str());
                refuse(position);
            }
            items_.push_back(PyRef::borrowed(item));
        });
    } catch (const ElementRefused&) {
    }
}

void BatchTexts::read_arrow(PyObject* export_method) {
    const PyRef capsules = check(PyObject_CallObject(export_method, nullptr));
    const std::string what = std::string("argument '") + name_ + "'";
    take_arrow_column(capsules.get(), arrow_, what);
    const std::vector<columns::ColumnPiece<columns::TextColumn>> pieces =
        arrow_pieces<columns::TextColumn>(
            arrow_, what, [&](const auto& schema, const auto& array, const auto& what) {
                return columns::terms_of(schema, array, what, arrow_.dictionaries);
            });
    const std::optional<columns::TextRowRefusal> refused =
        without_interpreter_lock([&](const InterruptCheck& interrupt) {
            return columns::append_texts(pieces, texts_, interrupt);
        });
    if (!refused) return;
    const std::string name = element_name(refused->row);
    switch (refused->kind) {
        case columns::TextRowRefusal::Kind::Null:
            // A null reads as None would in a list.
            try {
                convert_argument(name.c_str(), Py_None, to_utf8);
            } catch (const PythonErrorSet&) {
            }
            break;
        case columns::TextRowRefusal::Kind::Damaged:
            PyErr_Format(PyExc_ValueError,
                         "argument '%s': the text lies outside the Arrow array's data",
                         name.c_str());
            break;
        case columns::TextRowRefusal::Kind::NotUtf8:
            PyErr_Format(PyExc_ValueError, "argument '%s': the Arrow array's text is not UTF-8",
                         name.c_str());
            break;
    }
    refusal_ = fetch_exception();
}

}  // namespace kelnor::py
