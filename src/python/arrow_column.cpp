#include "python/arrow_column.hpp"

#include <string_view>

#include "python/lock_release.hpp"

namespace kelnor::py {
namespace {

// Whether the failure of a stream is a Python producer's KeyboardInterrupt:
// the producer's exception reaches the stream's consumer only as text, the
// traceback whose last line names it.
bool names_keyboard_interrupt(std::string_view failure) {
    while (failure.ends_with('\n')) failure.remove_suffix(1);
    const std::size_t line_start = failure.rfind('\n');
    const std::string_view last_line =
        line_start == std::string_view::npos ? failure : failure.substr(line_start + 1);
    return last_line == "KeyboardInterrupt" || last_line.starts_with("KeyboardInterrupt: ");
}

}  // namespace

// ValueError(failure) for a table's stream that failed; KeyboardInterrupt
// when Ctrl-C stopped it (in a Python generator feeding it, say), so that an
// interrupt stays one.
[[noreturn]] void raise_stream_failure(const std::string& failure) {
    if (PyErr_CheckSignals() < 0) throw_python_error();
    if (names_keyboard_interrupt(failure)) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw_python_error();
    }
    raise_value_error(failure);
}

// An Arrow array given as the pair of capsules of __arrow_c_array__(), or a
// chunked one as the capsule of __arrow_c_stream__(), taken over.
void take_arrow_column(PyObject* given, HeldColumn& held, const std::string& what) {
    if (PyCapsule_IsValid(given, "arrow_array_stream")) {
        columns::OwnedStream stream(capsule_struct<ArrowArrayStream>(given, "arrow_array_stream"));
        auto chunks = without_interpreter_lock(
            [&] { return columns::read_chunks(std::move(stream), "the stream of " + what); });
        if (!chunks.ok()) raise_stream_failure(chunks.error());
        held.arrow.get() = std::move(chunks).value();
        return;
    }
    if (!PyTuple_Check(given) || PyTuple_GET_SIZE(given) != 2) {
        PyErr_SetString(PyExc_TypeError,
                        "an Arrow column is given as the (schema, array) capsules of "
                        "__arrow_c_array__() or the stream capsule of __arrow_c_stream__()");
        throw_python_error();
    }
    ArrowSchema& schema = capsule_struct<ArrowSchema>(PyTuple_GET_ITEM(given, 0), "arrow_schema");
    ArrowArray& array = capsule_struct<ArrowArray>(PyTuple_GET_ITEM(given, 1), "arrow_array");
    held.arrow.get().schema = columns::OwnedSchema(schema);
    held.arrow.get().arrays.emplace_back(array);
}

bool is_arrow_column(PyObject* given) {
    return PyTuple_Check(given) || PyCapsule_IsValid(given, "arrow_array_stream");
}

}  // namespace kelnor::py
