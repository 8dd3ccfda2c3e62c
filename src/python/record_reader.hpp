// The record path's reading of one (term, video id, count) record: the
// checks and messages of a record, and its values appended to the columns of
// the native build. A term is a non-empty str without NUL or a lone
// surrogate; a count an int from 0 to 4294967295; a video id a uuid.UUID, a
// UUID string or an int from 0 to 4294967295, all of one kind (UUIDs or
// integers) in one set of columns. A record is checked whole before any of it
// is appended, so a refused one changes nothing.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "kelnor.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

// A record's three fields, each held for as long as the record is read.
struct RecordFields {
    std::array<PyObject*, 3> fields{};
    std::array<PyRef, 3> owned;
};

// The fields of `record`, a (term, video id, count) triple of any iterable
// form; anything else: TypeError "a record is a (term, video id, count)
// triple, not {record!r}".
RecordFields unpack_record(PyObject* record);

// A record whose fields passed their own checks: its values, and the video id
// object for the message of a kind that differs from the earlier ids'.
struct CheckedRecord {
    std::string_view term;  // UTF-8, viewed in the term object
    std::uint32_t count = 0;
    bool integer_id = false;
    std::uint32_t integer = 0;
    VideoUuid uuid{};
    PyObject* video = nullptr;
};

// The record's fields checked one by one (term, count, video id), or the
// record path's TypeError or ValueError. Runs Python code (reprs, uuid.UUID).
CheckedRecord check_record(PyObject* term, PyObject* video, PyObject* count);

// Appends a checked record to `columns`, or raises the ValueError of a video
// id of the other kind, leaving `columns` as it was. Runs no Python code
// before the record is appended.
void append_record(const CheckedRecord& record, columns::TextRecords& columns);

}  // namespace kelnor::py
