// An Arrow column handed over by a host: the capsules of __arrow_c_array__()
// or __arrow_c_stream__() taken over, and its arrays read as views, for the
// builds from columns and the batch queries alike.
#pragma once

#include <Python.h>

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "kelnor.hpp"
#include "python/call_guard.hpp"

namespace kelnor::py {

// A buffer held for the life of the object.
class HeldBuffer {
  public:
    HeldBuffer() = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    void hold(PyObject* source, int flags) {
        if (PyObject_GetBuffer(source, &view_, flags) < 0) throw_python_error();
        held_ = true;
    }
    const Py_buffer& view() const noexcept { return view_; }
    // The bytes of a bytes-like object, held.
    std::span<const std::uint8_t> bytes_of(PyObject* source) {
        hold(source, PyBUF_SIMPLE);
        return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

  private:
    Py_buffer view_{};
    bool held_ = false;
};

// Releasing a producer's Arrow structs may run Python code (the owner of a
// buffer going away), which must not find pending the exception that this
// call is raising: it is set aside while `value` is released.
template <class Arrow>
class ReleasedAside {
  public:
    ReleasedAside() = default;
    explicit ReleasedAside(Arrow value) : value_(std::move(value)) {}
    ReleasedAside(const ReleasedAside&) = delete;
    ReleasedAside& operator=(const ReleasedAside&) = delete;
    ~ReleasedAside() {
#if PY_VERSION_HEX >= 0x030C0000
        PyObject* raised = PyErr_GetRaisedException();
        value_ = Arrow{};
        PyErr_SetRaisedException(raised);
#else
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        value_ = Arrow{};
        PyErr_Restore(type, value, traceback);
#endif
    }
    Arrow& get() noexcept {
        return value_;
    }
    const Arrow& get() const noexcept {
        return value_;
    }

  private:
    Arrow value_;
};

// What a column argument holds while the build reads it: the arrays of an
// Arrow column (one, or the chunks of a stream), or a buffer of integers.
struct HeldColumn {
    ReleasedAside<columns::ArrowChunks> arrow;
    HeldBuffer buffer;
    std::deque<columns::DictionaryText> dictionaries;
};

// The struct in a capsule of the Arrow protocols, refused when the capsule is
// not one named `name` or its struct was already taken.
template <class Struct>
Struct& capsule_struct(PyObject* capsule, const char* name) {
    if (!PyCapsule_IsValid(capsule, name)) {
        PyErr_Format(PyExc_TypeError, "expected a PyCapsule named '%s'", name);
        throw_python_error();
    }
    auto* value = static_cast<Struct*>(PyCapsule_GetPointer(capsule, name));
    if (value->release == nullptr) {
        PyErr_Format(PyExc_ValueError, "the '%s' was already taken", name);
        throw_python_error();
    }
    return *value;
}

// A column's view, or TypeError for a type the build does not take and
// ValueError for an array that breaks its type's layout.
template <class Column>
Column column_or_raise(Result<Column, columns::ColumnError> column) {
    if (!column.ok()) {
        const columns::ColumnError& error = column.error();
        PyErr_SetString(error.kind == columns::ColumnError::Kind::WrongType ? PyExc_TypeError
                                                                            : PyExc_ValueError,
                        error.message.c_str());
        throw_python_error();
    }
    return std::move(column).value();
}

// The views of an Arrow column's arrays as pieces of the column `what`, by
// `view_of` (terms_of(), videos_of() or counts_of()).
template <class View, class ViewOf>
std::vector<columns::ColumnPiece<View>> arrow_pieces(const HeldColumn& held,
                                                     const std::string& what, ViewOf view_of) {
    std::vector<columns::ColumnPiece<View>> pieces;
    const columns::ArrowChunks& arrow = held.arrow.get();
    for (const columns::OwnedArray& array : arrow.arrays) {
        pieces.push_back({array.get().length,
                          View(column_or_raise(view_of(arrow.schema.get(), array.get(), what)))});
    }
    return pieces;
}

// ValueError(failure) for a table's stream that failed; KeyboardInterrupt
// when Ctrl-C stopped it (in a Python generator feeding it, say), so that an
// interrupt stays one.
[[noreturn]] void raise_stream_failure(const std::string& failure);

// An Arrow array given as the pair of capsules of __arrow_c_array__(), or a
// chunked one as the capsule of __arrow_c_stream__(), taken over.
void take_arrow_column(PyObject* given, HeldColumn& held, const std::string& what);

bool is_arrow_column(PyObject* given);

}  // namespace kelnor::py
