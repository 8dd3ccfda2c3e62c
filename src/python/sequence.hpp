// Reading a Python sequence argument element by element.
//
// A sequence is read by iterating over it, never by indexing up to the length
// it reports: a host object whose __len__ disagrees with its iteration still
// gives exactly the items it yields. Reading an argument of billions of items
// takes minutes, so pending signals (Ctrl-C, an alarm) are handled every few
// thousand items and end the read with the handler's exception.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>

#include "python/call_guard.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

// Refuses a str (which is a sequence, but never of the wanted items) with
// TypeError "Can't extract `str` to `Vec`" and any non-sequence with
// "'{type}' object cannot be converted to 'Sequence'".
void require_sequence(PyObject* value);

// The length of `sequence` as an int when it is known without running host
// code (an exact list or tuple, or a range) and exceeds 4294967296, the most
// entries any array of an index can have; null otherwise. Checked before an
// item is read: a range can be far longer than memory could ever hold. Other
// sequences are bounded by the memory their items take.
PyRef unaddressable_length(PyObject* sequence);

// ValueError "{what} has {length} entries; an index holds at most 4294967296".
[[noreturn]] void raise_unaddressable(PyObject* length, const std::string& what);

// Counts one item read and, every few thousand items counted across all
// reads, runs the handlers of pending signals; a handler's exception ends
// the read.
void poll_signals_per_item();

// How many items to reserve room for: the size of an exact list or tuple,
// whose storage proves it; 0 for anything else, whose __len__ may lie.
std::size_t size_hint(PyObject* sequence) noexcept;

// Calls visit(item) for every item of the sequence `value`, in order, each
// item held by a strong reference while it is visited (visiting may run host
// code that changes a list). Exceptions of the host's iteration propagate.
template <class Visit>
void for_each_item(PyObject* value, Visit&& visit) {
    require_sequence(value);
    if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
        // The size is read again at every step: a list may shrink meanwhile.
        for (Py_ssize_t index = 0; index < PySequence_Fast_GET_SIZE(value); ++index) {
            const PyRef item = PyRef::borrowed(PySequence_Fast_GET_ITEM(value, index));
            visit(item.get());
            poll_signals_per_item();
        }
        return;
    }
    const PyRef iterator = check(PyObject_GetIter(value));
    while (const PyRef item = PyRef(PyIter_Next(iterator.get()))) {
        visit(item.get());
        poll_signals_per_item();
    }
    if (PyErr_Occurred()) throw_python_error();
}

}  // namespace kelnor::py
