#include "python/record_reader.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "python/call_guard.hpp"

namespace kelnor::py {
namespace {

constexpr unsigned long long U32_MAX = 4294967295ULL;

// The two kinds of video id, as the messages name them.
enum class IdKind : std::uint8_t { None, Uuid, Integer };

const char* singular(IdKind kind) {
    return kind == IdKind::Integer ? "an integer" : "a UUID";
}
const char* plural(IdKind kind) {
    return kind == IdKind::Integer ? "integers" : "UUIDs";
}

// repr() of the __name__ of the type of `value`, as the messages quote it.
PyRef type_name_repr(PyObject* value) {
    const PyRef name =
        check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__"));
    return check(PyObject_Repr(name.get()));
}

[[noreturn]] void raise_type_name(const char* before, PyObject* value) {
    PyErr_Format(PyExc_TypeError, "%s%U", before, type_name_repr(value).get());
    throw_python_error();
}

bool is_int(PyObject* value) {
    return PyLong_Check(value) && !PyBool_Check(value);
}

// The value of an int when it lies in 0..4294967295.
std::optional<std::uint32_t> u32_of(PyObject* value) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (number == -1 && PyErr_Occurred()) throw_python_error();
    if (overflow != 0 || number < 0 || static_cast<unsigned long long>(number) > U32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

// ValueError "{before}{format(value)} is outside 0..4294967295", the number
// shown as an f-string shows it.
[[noreturn]] void raise_out_of_range(const char* before, PyObject* value) {
    const PyRef empty = check(PyUnicode_FromString(""));
    const PyRef shown = check(PyObject_Format(value, empty.get()));
    PyErr_Format(PyExc_ValueError, "%s%U is outside 0..4294967295", before, shown.get());
    throw_python_error();
}

// NUL marks an edge that no query may take, and a lone surrogate has no
// UTF-8 form: a term holding either could never be found.
bool unstorable(Py_UCS4 c) {
    return c == 0 || (c >= 0xD800 && c <= 0xDFFF);
}

[[noreturn]] void raise_unstorable(PyObject* term) {
    Py_UCS4 found = 0;
    const Py_ssize_t length = PyUnicode_GetLength(term);
    for (Py_ssize_t at = 0; at < length; ++at) {
        const Py_UCS4 c = PyUnicode_ReadChar(term, at);
        if (unstorable(c)) {
            found = c;
            break;
        }
    }
    const PyRef character = check(PyUnicode_FromOrdinal(static_cast<int>(found)));
    PyErr_Format(PyExc_ValueError, "term %R holds %R, which an index cannot hold", term,
                 character.get());
    throw_python_error();
}

// The text of a term, checked.
std::string_view term_text(PyObject* term) {
    if (!PyUnicode_Check(term)) raise_type_name("a term must be a str, not ", term);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(term, &size);
    if (utf8 == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw_python_error();
        PyErr_Clear();
        raise_unstorable(term);  // a lone surrogate, or a NUL before it
    }
    if (size == 0) {
        PyErr_SetString(PyExc_ValueError, "a term must not be empty");
        throw_python_error();
    }
    if (static_cast<std::size_t>(size) > columns::MAX_TERM_BYTES) {
        PyErr_Format(PyExc_ValueError,
                     "a term must be at most %zu bytes of UTF-8, this one has %zd",
                     columns::MAX_TERM_BYTES, size);
        throw_python_error();
    }
    if (std::memchr(utf8, 0, static_cast<std::size_t>(size)) != nullptr) raise_unstorable(term);
    return {utf8, static_cast<std::size_t>(size)};
}

std::uint32_t count_value(PyObject* count) {
    if (!is_int(count)) raise_type_name("count must be an int, not ", count);
    const std::optional<std::uint32_t> value = u32_of(count);
    if (!value) raise_out_of_range("count ", count);
    return *value;
}

PyObject* uuid_type() {
    static PyObject* type = nullptr;  // kept for the life of the process
    if (type == nullptr) {
        const PyRef module = check(PyImport_ImportModule("uuid"));
        type = check(PyObject_GetAttrString(module.get(), "UUID")).release();
    }
    return type;
}

VideoUuid uuid_bytes_of(PyObject* uuid_object, PyObject* video) {
    const PyRef bytes = check(PyObject_GetAttrString(uuid_object, "bytes"));
    VideoUuid uuid;
    if (!PyBytes_Check(bytes.get()) || PyBytes_GET_SIZE(bytes.get()) != 16) {
        PyErr_Format(PyExc_TypeError, "video id %R does not give the 16 bytes of a UUID", video);
        throw_python_error();
    }
    std::memcpy(uuid.data(), PyBytes_AS_STRING(bytes.get()), uuid.size());
    return uuid;
}

// A UUID string read as uuid.UUID reads it, in ASCII only, as every build
// path reads it: uuid.UUID also takes the non-ASCII digits and spaces that
// int() reads, which change with the interpreter's Unicode version.
VideoUuid uuid_of_text(PyObject* video) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(video, &size)) {
        if (const auto uuid = parse_uuid_text({utf8, static_cast<std::size_t>(size)})) {
            return *uuid;
        }
    } else {
        PyErr_Clear();  // a lone surrogate: no UUID string
    }
    PyErr_Format(PyExc_ValueError, "video id %R is not a UUID string (give integer ids as int)",
                 video);
    throw_python_error();
}

// A video id: its kind and its value (the integer, or the UUID's bytes).
struct VideoValue {
    IdKind kind = IdKind::None;
    std::uint32_t integer = 0;
    VideoUuid uuid{};
};

VideoValue video_value(PyObject* video) {
    // Exact ints and strs first: they are the usual ids and never UUIDs.
    if (!PyLong_CheckExact(video) && !PyUnicode_CheckExact(video)) {
        const int is_uuid = PyObject_IsInstance(video, uuid_type());
        if (is_uuid < 0) throw_python_error();
        if (is_uuid) return {IdKind::Uuid, 0, uuid_bytes_of(video, video)};
    }
    if (PyUnicode_Check(video)) return {IdKind::Uuid, 0, uuid_of_text(video)};
    if (is_int(video)) {
        const std::optional<std::uint32_t> value = u32_of(video);
        if (!value) raise_out_of_range("integer video id ", video);
        return {IdKind::Integer, *value, {}};
    }
    raise_type_name("a video id is a uuid.UUID, a UUID string or an int, not ", video);
}

// Room for one more item, so that the push that follows cannot fail.
template <class Vector>
void make_room(Vector& items) {
    if (items.size() == items.capacity()) items.reserve(2 * items.size() + 16);
}

IdKind kind_of(const columns::TextRecords& columns) {
    if (!columns.uuids.empty()) return IdKind::Uuid;
    if (!columns.integer_ids.empty()) return IdKind::Integer;
    return IdKind::None;
}

}  // namespace

RecordFields unpack_record(PyObject* record) {
    RecordFields fields;
    // Held, not borrowed: the checks run Python code, which may empty a list.
    if ((PyTuple_CheckExact(record) || PyList_CheckExact(record)) &&
        PySequence_Fast_GET_SIZE(record) == 3) {
        for (int k = 0; k < 3; ++k) {
            fields.owned[k] = PyRef::borrowed(PySequence_Fast_GET_ITEM(record, k));
            fields.fields[k] = fields.owned[k].get();
        }
        return fields;
    }
    // Any other iterable of exactly three items, as Python's unpacking takes it.
    const auto unpacked = [&]() -> bool {
        const PyRef iterator(PyObject_GetIter(record));
        if (!iterator) return false;
        for (int k = 0; k < 3; ++k) {
            fields.owned[k] = PyRef(PyIter_Next(iterator.get()));
            if (!fields.owned[k]) return false;
            fields.fields[k] = fields.owned[k].get();
        }
        const PyRef extra(PyIter_Next(iterator.get()));
        return !extra && !PyErr_Occurred();
    };
    if (unpacked()) return fields;
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_TypeError) &&
        !PyErr_ExceptionMatches(PyExc_ValueError)) {
        throw_python_error();
    }
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "a record is a (term, video id, count) triple, not %R", record);
    throw_python_error();
}

CheckedRecord check_record(PyObject* term, PyObject* video, PyObject* count) {
    CheckedRecord record;
    record.term = term_text(term);
    record.count = count_value(count);
    const VideoValue id = video_value(video);
    record.integer_id = id.kind == IdKind::Integer;
    record.integer = id.integer;
    record.uuid = id.uuid;
    record.video = video;
    return record;
}

void append_record(const CheckedRecord& record, columns::TextRecords& columns) {
    const IdKind kind = record.integer_id ? IdKind::Integer : IdKind::Uuid;
    const IdKind earlier = kind_of(columns);
    if (earlier != IdKind::None && earlier != kind) {
        PyErr_Format(PyExc_ValueError,
                     "video id %R is %s, but this index's earlier video ids are %s; an index "
                     "holds one kind of video id",
                     record.video, singular(kind), plural(earlier));
        throw_python_error();
    }
    // Room first and the bytes next, so that a lack of memory changes nothing.
    make_room(columns.term_ends);
    make_room(columns.counts);
    if (record.integer_id) {
        make_room(columns.integer_ids);
    } else {
        make_room(columns.uuids);
    }
    columns.term_bytes.append(record.term);
    columns.term_ends.push_back(static_cast<std::int64_t>(columns.term_bytes.size()));
    if (record.integer_id) {
        columns.integer_ids.push_back(record.integer);
    } else {
        columns.uuids.push_back(record.uuid);
    }
    columns.counts.push_back(record.count);
}

}  // namespace kelnor::py
