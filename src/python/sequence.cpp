#include "python/sequence.hpp"

#include <utility>

#include "python/convert.hpp"

namespace kelnor::py {
namespace {

constexpr unsigned long long MOST_ENTRIES = 1ULL << 32;

constexpr unsigned ITEMS_PER_SIGNAL_POLL = 4096;

// One count for every read (all of them hold the interpreter lock), so that
// many short sequences, such as the payloads' id lists, are polled as well.
unsigned items_since_signal_poll = 0;

// ceil((stop - start) / step), worked out in ints because a range can be
// longer than len() can tell; negative for an empty range.
PyRef range_length_or_negative(PyObject* range) {
    const PyRef start = check(PyObject_GetAttrString(range, "start"));
    const PyRef stop = check(PyObject_GetAttrString(range, "stop"));
    const PyRef step = check(PyObject_GetAttrString(range, "step"));
    const PyRef negated_span = check(PyNumber_Subtract(start.get(), stop.get()));
    const PyRef floor = check(PyNumber_FloorDivide(negated_span.get(), step.get()));
    return check(PyNumber_Negative(floor.get()));
}

}  // namespace

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

PyRef unaddressable_length(PyObject* sequence) {
    if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence);
        if (static_cast<unsigned long long>(size) <= MOST_ENTRIES) return PyRef();
        return check(PyLong_FromSsize_t(size));
    }
    // range cannot be subclassed (and PyPy has no PyRange_Check).
    if (Py_TYPE(sequence) != &PyRange_Type) return PyRef();
    PyRef length = range_length_or_negative(sequence);
    const PyRef most = check(PyLong_FromUnsignedLongLong(MOST_ENTRIES));
    const int longer = PyObject_RichCompareBool(length.get(), most.get(), Py_GT);
    if (longer < 0) throw_python_error();
    return longer != 0 ? std::move(length) : PyRef();
}

void raise_unaddressable(PyObject* length, const std::string& what) {
    PyErr_Format(PyExc_ValueError, "%s has %S entries; an index holds at most %llu", what.c_str(),
                 length, MOST_ENTRIES);
    throw_python_error();
}

void poll_signals_per_item() {
    if (++items_since_signal_poll < ITEMS_PER_SIGNAL_POLL) return;
    items_since_signal_poll = 0;
    if (PyErr_CheckSignals() < 0) throw_python_error();
}

}  // namespace kelnor::py
