// The Python results of the methods, built from native values.
//
// Each builder returns a new reference or throws (see expect() in
// call_guard.hpp); a partly built result is released on the way out.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "python/call_guard.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

inline PyRef to_str(std::string_view text) {
    return expect(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// A tuple that takes over the given new references, all to atoms (str, int,
// float), which refer to no other object: such a tuple can be part of no
// reference cycle, so it is taken off the cycle collector's lists at once
// (the collector would take it off at its first pass over it). A batch's
// answers are hundreds of thousands of these, which the collector would
// otherwise walk again at each of its passes while the batch builds them.
template <class... Atoms>
PyRef tuple_of_atoms(Atoms... atoms) {
    PyRef tuple = expect(PyTuple_New(sizeof...(Atoms)));
    Py_ssize_t position = 0;
    (PyTuple_SET_ITEM(tuple.get(), position++, atoms.release()), ...);
    PyObject_GC_UnTrack(tuple.get());
    return tuple;
}

// A list of `size` empty slots for the caller to fill, off the cycle
// collector's lists until whole(). Making its items may allocate objects that
// the collector follows (tuples, lists) and so start a collection, which runs
// Python code (gc.callbacks, finalizers) that could reach the list through
// gc.get_objects() while slots are still empty: reading one crashes the
// process. PyPy's collector keeps no such lists.
class ListFilling {
  public:
    explicit ListFilling(Py_ssize_t size) : list_(expect(PyList_New(size))) {
#ifndef PYPY_VERSION
        PyObject_GC_UnTrack(list_.get());
#endif
    }

    // Takes over `item` (a new reference) as slot `k`.
    void set(Py_ssize_t k, PyRef item) noexcept {
        PyList_SET_ITEM(list_.get(), k, item.release());
    }

    // Slot `k`, set already (a borrowed reference).
    PyObject* at(Py_ssize_t k) const noexcept {
        return PyList_GET_ITEM(list_.get(), k);
    }

    Py_ssize_t size() const noexcept {
        return PyList_GET_SIZE(list_.get());
    }

    // The list, every slot set, back on the collector's lists.
    PyRef whole() && {
#ifndef PYPY_VERSION
        PyObject_GC_Track(list_.get());
#endif
        return std::move(list_);
    }

  private:
    PyRef list_;
};

// A list of exactly records.size() tuples, made by `to_tuple` in order.
template <class Record, class ToTuple>
PyRef list_of(std::span<const Record> records, ToTuple&& to_tuple) {
    ListFilling list(static_cast<Py_ssize_t>(records.size()));
    for (std::size_t k = 0; k < records.size(); ++k) {
        list.set(static_cast<Py_ssize_t>(k), to_tuple(records[k]));
    }
    return std::move(list).whole();
}

}  // namespace kelnor::py
