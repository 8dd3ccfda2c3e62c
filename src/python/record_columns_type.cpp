#include "python/record_columns_type.hpp"

#include <memory>
#include <new>
#include <utility>

#include "kelnor.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/prefix_search_type.hpp"
#include "python/record_reader.hpp"
#include "python/results.hpp"

namespace kelnor::py {
namespace {

using columns::TextRecords;

// A build reads the columns without the interpreter lock through its own
// reference to them; a record added meanwhile goes into a copy.
struct RecordColumnsObject {
    PyObject_HEAD std::shared_ptr<TextRecords> columns;
};

RecordColumnsObject& self_of(PyObject* self) {
    return *reinterpret_cast<RecordColumnsObject*>(self);
}

TextRecords& writable(PyObject* self) {
    std::shared_ptr<TextRecords>& columns = self_of(self).columns;
    if (columns.use_count() > 1) columns = std::make_shared<TextRecords>(*columns);
    return *columns;
}

constexpr Py_ssize_t SIGNAL_POLL_ROWS = 1 << 16;

constexpr const char* ADD_NAMES[] = {"term", "video_id", "count"};
constinit MethodParameters ADD{"_RecordColumns.add()", ADD_NAMES, 3};
constexpr const char* EXTEND_NAMES[] = {"records", "numbered"};
constinit MethodParameters EXTEND{"_RecordColumns.extend()", EXTEND_NAMES, 2};
constexpr const char* BUILD_NAMES[] = {"video_top_n", "spellings"};
constinit MethodParameters BUILD{"_RecordColumns.build()", BUILD_NAMES, 1};
constexpr const char* LAY_OUT_NAMES[] = {"video_top_n"};
constinit MethodParameters LAY_OUT{"_RecordColumns.internal_data_v2()", LAY_OUT_NAMES, 1};

void add_fields(PyObject* self, PyObject* term, PyObject* video, PyObject* count) {
    const CheckedRecord record = check_record(term, video, count);
    append_record(record, writable(self));
}

PyObject* add(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[3];
        bind_arguments(ADD, args, nargs, keyword_names, slots);
        add_fields(self, slots[0], slots[1], slots[2]);
        return PyRef::borrowed(Py_None);
    });
}

// A pending TypeError or ValueError of a record as "row {row}: {message}",
// of the same type. Only those two exactly: a subclass raised by the host's
// code (a UnicodeError, one whose constructor takes other arguments) cannot
// be made again from a message alone, and passes as it was.
void name_row(Py_ssize_t row) {
    PyObject* const pending = PyErr_Occurred();
    if (pending != PyExc_TypeError && pending != PyExc_ValueError) return;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const PyRef type_ref(type);
    const PyRef value_ref(value);
    const PyRef traceback_ref(traceback);
    const PyRef message = check(PyObject_Str(value));
    PyErr_Format(type, "row %zd: %U", row, message.get());
}

// Every record of an iterable; with `numbered`, a refused one is named by
// its place in it ("row 3: ...").
PyObject* extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[2];
        bind_arguments(EXTEND, args, nargs, keyword_names, slots);
        const bool numbered = convert_argument("numbered", slots[1], to_flag);
        const PyRef iterator = check(PyObject_GetIter(slots[0]));
        for (Py_ssize_t row = 0;; ++row) {
            // A list's items are read with no Python code between them: an
            // interrupt is let through every so many rows.
            if (row % SIGNAL_POLL_ROWS == 0 && PyErr_CheckSignals() < 0) throw_python_error();
            const PyRef record(PyIter_Next(iterator.get()));
            if (!record) {
                if (PyErr_Occurred()) throw_python_error();
                break;
            }
            const RecordFields fields = unpack_record(record.get());
            try {
                add_fields(self, fields.fields[0], fields.fields[1], fields.fields[2]);
            } catch (const PythonErrorSet&) {
                if (numbered) name_row(row);
                throw;
            }
        }
        return PyRef::borrowed(Py_None);
    });
}

// What `make(chunks, top_n, interrupt)` makes of the records so far, with
// `top_n` the argument in `top_n_slot`, without the interpreter lock.
template <class Make>
auto of_records(PyObject* self, PyObject* top_n_slot, Make make) {
    const std::uint32_t top_n = convert_argument("video_top_n", top_n_slot, to_u32);
    const std::shared_ptr<const TextRecords> columns = self_of(self).columns;
    auto made = without_interpreter_lock([&](const InterruptCheck& interrupt) {
        const columns::ColumnChunk chunk = columns->chunk();
        return make(std::span<const columns::ColumnChunk>{&chunk, 1}, top_n, interrupt);
    });
    // Every record was checked as the build checks a row.
    if (!made.ok()) throw InternalFailure("a checked record refused by the build");
    return std::pair{std::move(made).value(), top_n};
}

// The index of the records so far; with `spellings` (a dict, maybe empty),
// an index of folded terms that shows those spellings.
PyObject* build(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[2];
        bind_arguments(BUILD, args, nargs, keyword_names, slots);
        std::optional<TermSpellings> folding =
            convert_optional("spellings", slots[1], to_spellings);
        auto [trie, top_n] =
            of_records(self, slots[0], [](auto chunks, std::uint32_t top_n, const auto& interrupt) {
                return columns::build_from_columns(chunks, top_n, interrupt);
            });
        return make_instance(PrefixSearch{std::move(trie), std::move(folding)});
    });
}

PyRef u32_list(const std::vector<std::uint32_t>& values) {
    return list_of<std::uint32_t>(
        values, [](std::uint32_t value) { return expect(PyLong_FromUnsignedLong(value)); });
}

PyRef packed_list(const PackedList& values) {
    PyRef list = expect(PyList_New(0));
    for (const std::uint32_t value : values) {
        const PyRef item = expect(PyLong_FromUnsignedLong(value));
        if (PyList_Append(list.get(), item.get()) < 0) throw_python_error();
    }
    return list;
}

// The six arguments of PrefixSearch.from_internal_data_v2 for laid-out rows.
PyRef internal_data_of(const columns::LaidOutRows& rows, std::uint32_t top_n) {
    const InternalData& data = rows.data;
    const auto nodes = static_cast<Py_ssize_t>(data.child_labels.size());
    ListFilling labels(nodes);
    ListFilling payloads(nodes);
    for (Py_ssize_t node = 0; node < nodes; ++node) {
        const auto at = static_cast<std::size_t>(node);
        // Only the root has no label: a term never holds NUL.
        const char32_t label = data.child_labels[at];
        PyObject* text = label == 0 ? PyUnicode_FromStringAndSize("", 0)
                                    : PyUnicode_FromOrdinal(static_cast<int>(label));
        labels.set(node, expect(text));
        PyRef payload = PyRef::borrowed(Py_None);
        if (data.payloads.present(at)) {
            const PayloadView view = data.payloads.view(at);
            const PyRef total = expect(PyLong_FromUnsignedLong(view.total_count));
            const PyRef ids = packed_list(view.video_ids);
            const PyRef counts = packed_list(view.video_counts);
            payload = expect(PyTuple_Pack(3, total.get(), ids.get(), counts.get()));
        }
        payloads.set(node, std::move(payload));
    }
    const VideoTable& videos = rows.videos;
    const bool integers = videos.id_mode == IdMode::Int32;
    const std::size_t video_count =
        integers ? videos.video_int_ids.size() : videos.video_uuids.size();
    PyRef video_index = expect(PyList_New(static_cast<Py_ssize_t>(video_count)));
    for (std::size_t k = 0; k < video_count; ++k) {
        char entry[16];
        Py_ssize_t size = 16;
        if (integers) {
            const std::uint32_t id = videos.video_int_ids[k];
            for (int byte = 0; byte < 4; ++byte) entry[byte] = static_cast<char>(id >> (8 * byte));
            size = 4;
        } else {
            std::memcpy(entry, videos.video_uuids[k].data(), 16);
        }
        PyList_SET_ITEM(video_index.get(), static_cast<Py_ssize_t>(k),
                        expect(PyBytes_FromStringAndSize(entry, size)).release());
    }
    const PyRef shifts = u32_list(data.node_shifts);
    const PyRef transitions = u32_list(data.child_transitions);
    const PyRef top = expect(PyLong_FromUnsignedLong(top_n));
    const PyRef label_list = std::move(labels).whole();
    const PyRef payload_list = std::move(payloads).whole();
    return expect(PyTuple_Pack(6, shifts.get(), label_list.get(), payload_list.get(),
                               transitions.get(), video_index.get(), top.get()));
}

PyObject* internal_data_v2(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[1];
        bind_arguments(LAY_OUT, args, nargs, keyword_names, slots);
        const auto [rows, top_n] =
            of_records(self, slots[0], [](auto chunks, std::uint32_t, const auto& interrupt) {
                return columns::lay_out_rows(chunks, interrupt);
            });
        return internal_data_of(rows, top_n);
    });
}

PyMethodDef methods[] = {
    {"add", as_cfunction(add), METH_FASTCALL | METH_KEYWORDS,
     "add($self, term, video_id, count)\n--\n\n"},
    {"extend", as_cfunction(extend), METH_FASTCALL | METH_KEYWORDS,
     "extend($self, records, numbered)\n--\n\n"},
    {"build", as_cfunction(build), METH_FASTCALL | METH_KEYWORDS,
     "build($self, video_top_n, spellings=None)\n--\n\n"},
    {"internal_data_v2", as_cfunction(internal_data_v2), METH_FASTCALL | METH_KEYWORDS,
     "internal_data_v2($self, video_top_n)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* create(PyTypeObject* type, PyObject* args, PyObject* keywords) {
    return call_guarded([&]() -> PyRef {
        if (PyTuple_GET_SIZE(args) != 0 || (keywords != nullptr && PyDict_Size(keywords) != 0)) {
            PyErr_SetString(PyExc_TypeError, "_RecordColumns() takes no arguments");
            throw_python_error();
        }
        auto columns = std::make_shared<TextRecords>();
        allocfunc alloc = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
        PyRef object = check(alloc(type, 0));
        new (&self_of(object.get()).columns) std::shared_ptr<TextRecords>(std::move(columns));
        return object;
    });
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    using Columns = std::shared_ptr<TextRecords>;
    self_of(self).columns.~Columns();
    type->tp_free(self);
    Py_DECREF(reinterpret_cast<PyObject*>(type));
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(create)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "_kelnor._RecordColumns",
    static_cast<int>(sizeof(RecordColumnsObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

}  // namespace

PyTypeObject* record_columns_type() {
    static PyTypeObject* type = nullptr;
    if (type == nullptr) {
        PyObject* created = PyType_FromSpec(&spec);
        if (created == nullptr) throw_python_error();
        type = reinterpret_cast<PyTypeObject*>(created);
    }
    return type;
}

}  // namespace kelnor::py
