#include "python/column_functions.hpp"

#include <bit>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kelnor.hpp"
#include "python/arrow_column.hpp"
#include "python/binder.hpp"
#include "python/call_guard.hpp"
#include "python/convert.hpp"
#include "python/lock_release.hpp"
#include "python/methods.hpp"
#include "python/prefix_search_type.hpp"
#include "python/row_refusal_message.hpp"

namespace kelnor::py {
namespace {

using columns::ColumnChunk;
using columns::RowRefusal;

constexpr const char* STREAM_NAMES[] = {"stream", "video_top_n", "term", "video", "count"};
constinit MethodParameters STREAM{"_build_from_arrow_stream()", STREAM_NAMES, 5};
constexpr const char* COLUMNS_NAMES[] = {"terms", "videos", "counts", "video_top_n"};
constinit MethodParameters COLUMNS{"_build_from_columns()", COLUMNS_NAMES, 4};
constexpr const char* TEXT_NAMES[] = {"data", "separator", "video_top_n"};
constinit MethodParameters TEXT{"_build_from_text_records()", TEXT_NAMES, 3};
constexpr const char* PARSE_NAMES[] = {"data", "separator"};
constinit MethodParameters PARSE{"_parse_text_records()", PARSE_NAMES, 2};
constexpr const char* SIZES_NAMES[] = {"index"};
constinit MethodParameters SIZES{"_index_sizes()", SIZES_NAMES, 1};

columns::Separator separator_argument(PyObject* value) {
    const std::string_view separator = convert_argument("separator", value, to_utf8);
    if (separator != "\t" && separator != ",")
        raise_value_error("the separator is a tab or a comma");
    return static_cast<columns::Separator>(separator[0]);
}

// A one-dimensional, contiguous buffer of native integers as a column.
columns::ColumnPiece<columns::IntColumn> int_buffer_column(const char* name, PyObject* source,
                                                           HeldColumn& held) {
    held.buffer.hold(source, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS);
    const Py_buffer& view = held.buffer.view();
    std::string_view format = view.format != nullptr ? view.format : "B";
    if (format.size() == 2 && (format[0] == '@' || format[0] == '=' ||
                               (format[0] == '<' && std::endian::native == std::endian::little) ||
                               (format[0] == '>' && std::endian::native == std::endian::big))) {
        format.remove_prefix(1);
    }
    static constexpr std::string_view CODES = "bBhHiIlLqQ";
    const std::size_t code = format.size() == 1 ? CODES.find(format[0]) : std::string_view::npos;
    if (view.ndim != 1 || code == std::string_view::npos ||
        (view.itemsize != 1 && view.itemsize != 2 && view.itemsize != 4 && view.itemsize != 8)) {
        PyErr_Format(PyExc_TypeError,
                     "%s must be one-dimensional integers in native byte order, not a buffer of "
                     "format '%s' in %d dimensions",
                     name, view.format != nullptr ? view.format : "B", view.ndim);
        throw_python_error();
    }
    columns::IntColumn column;
    column.values = view.buf;
    column.width = static_cast<std::uint8_t>(view.itemsize);
    column.is_signed = code % 2 == 0;
    return {view.shape[0], column};
}

[[noreturn]] void raise_refusal(const RowRefusal& refusal, const char* where,
                                columns::Separator separator = columns::Separator::Tab) {
    const PyRef message = row_refusal_message(refusal, separator);
    PyErr_Format(PyExc_ValueError, "%s%llu: %U", where,
                 static_cast<unsigned long long>(refusal.where), message.get());
    throw_python_error();
}

// The index of `chunks`, built with the interpreter lock let go; a refused
// row raises ValueError "row N: ...".
PyRef build_index(std::span<const ColumnChunk> chunks, std::uint32_t top_n) {
    auto built = without_interpreter_lock([&](const InterruptCheck& interrupt) {
        return columns::build_from_columns(chunks, top_n, interrupt);
    });
    if (!built.ok()) raise_refusal(built.error(), "row ");
    return make_instance(PrefixSearch{std::move(built).value(), std::nullopt});
}

template <class View>
std::int64_t rows_of(const std::vector<columns::ColumnPiece<View>>& pieces) {
    std::int64_t rows = 0;
    for (const auto& piece : pieces) rows += piece.length;
    return rows;
}

std::string name_argument(const char* name, PyObject* value) {
    return std::string(convert_argument(name, value, to_utf8));
}

PyObject* build_from_arrow_stream(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[5];
        bind_arguments(STREAM, args, nargs, keyword_names, slots);
        const std::uint32_t top_n = convert_argument("video_top_n", slots[1], to_u32);
        const columns::ColumnNames names{name_argument("term", slots[2]),
                                         name_argument("video", slots[3]),
                                         name_argument("count", slots[4])};
        columns::OwnedStream stream(
            capsule_struct<ArrowArrayStream>(slots[0], "arrow_array_stream"));
        auto read = without_interpreter_lock(
            [&] { return columns::read_stream(std::move(stream), names); });
        if (!read.ok()) raise_stream_failure(read.error());
        ReleasedAside<columns::ArrowTable> table(std::move(read).value());
        return build_index(table.get().chunks, top_n);
    });
}

PyObject* build_from_columns(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[4];
        bind_arguments(COLUMNS, args, nargs, keyword_names, slots);
        const std::uint32_t top_n = convert_argument("video_top_n", slots[3], to_u32);
        static const std::string WHAT[] = {"the terms column", "the video ids column",
                                           "the counts column"};
        HeldColumn held[3];
        for (int k = 0; k < 3; ++k) {
            if (is_arrow_column(slots[k])) take_arrow_column(slots[k], held[k], WHAT[k]);
        }
        if (!is_arrow_column(slots[0])) {
            PyErr_SetString(PyExc_TypeError, "the terms must be an Arrow column");
            throw_python_error();
        }
        columns::ColumnPieces pieces;
        pieces.terms = arrow_pieces<columns::TextColumn>(
            held[0], WHAT[0], [&](const auto& schema, const auto& array, const auto& what) {
                return columns::terms_of(schema, array, what, held[0].dictionaries);
            });
        if (is_arrow_column(slots[1])) {
            pieces.videos =
                arrow_pieces<columns::VideoColumn>(held[1], WHAT[1], columns::videos_of);
        } else {
            const auto piece = int_buffer_column("videos", slots[1], held[1]);
            pieces.videos.push_back({piece.length, columns::VideoColumn(piece.view)});
        }
        if (is_arrow_column(slots[2])) {
            pieces.counts = arrow_pieces<columns::IntColumn>(held[2], WHAT[2], columns::counts_of);
        } else {
            pieces.counts.push_back(int_buffer_column("counts", slots[2], held[2]));
        }
        if (auto error = columns::check_lengths(rows_of(pieces.terms), rows_of(pieces.videos),
                                                rows_of(pieces.counts))) {
            raise_value_error(*error);
        }
        const std::vector<columns::ColumnChunk> chunks = columns::align_pieces(pieces);
        return build_index(chunks, top_n);
    });
}

// The index of a records file given whole as a bytes-like object, or as an
// iterable of bytes-like pieces, each read as it comes (the file need not be
// held whole: only its distinct terms, videos and pairs are).
PyObject* build_from_text_records(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[3];
        bind_arguments(TEXT, args, nargs, keyword_names, slots);
        const columns::Separator separator = separator_argument(slots[1]);
        const std::uint32_t top_n = convert_argument("video_top_n", slots[2], to_u32);
        columns::RecordsStream stream(separator);
        const auto feed = [&](PyObject* piece) {
            HeldBuffer data;
            const std::span<const std::uint8_t> bytes = data.bytes_of(piece);
            auto fed = without_interpreter_lock(
                [&](const InterruptCheck& interrupt) { return stream.feed(bytes, interrupt); });
            if (!fed.ok()) raise_refusal(fed.error(), "", separator);
        };
        if (PyObject_CheckBuffer(slots[0])) {
            feed(slots[0]);
        } else {
            const PyRef pieces = check(PyObject_GetIter(slots[0]));
            while (const PyRef piece{PyIter_Next(pieces.get())}) feed(piece.get());
            if (PyErr_Occurred()) throw_python_error();
        }
        auto built = without_interpreter_lock(
            [&](const InterruptCheck& interrupt) { return stream.finish(top_n, interrupt); });
        if (!built.ok()) raise_refusal(built.error(), "", separator);
        return make_instance(PrefixSearch{std::move(built).value(), std::nullopt});
    });
}

// The records of a records file as four lists: line numbers, terms, video
// ids (ints, or the 16 bytes of UUIDs) and counts, for a host that changes
// the terms before it builds (folding them, say): the terms are left
// unchecked, for the host to check once it has changed them.
PyObject* parse_text_records(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[2];
        bind_arguments(PARSE, args, nargs, keyword_names, slots);
        const columns::Separator separator = separator_argument(slots[1]);
        HeldBuffer data;
        const std::span<const std::uint8_t> bytes = data.bytes_of(slots[0]);
        auto parsed = without_interpreter_lock([&](const InterruptCheck& interrupt) {
            return columns::parse_text_records(bytes, separator, /*with_lines=*/true,
                                               /*check_terms=*/false, interrupt);
        });
        if (!parsed.ok()) raise_refusal(parsed.error(), "", separator);
        const columns::TextRecords& records = parsed.value();
        const auto count = static_cast<Py_ssize_t>(records.counts.size());
        PyRef lines = expect(PyList_New(count));
        PyRef terms = expect(PyList_New(count));
        PyRef videos = expect(PyList_New(count));
        PyRef counts = expect(PyList_New(count));
        for (Py_ssize_t k = 0; k < count; ++k) {
            const auto at = static_cast<std::size_t>(k);
            const auto begin = records.term_ends[at];
            PyList_SET_ITEM(lines.get(), k,
                            expect(PyLong_FromUnsignedLongLong(records.lines[at])).release());
            PyList_SET_ITEM(terms.get(), k,
                            expect(PyUnicode_DecodeUTF8(records.term_bytes.data() + begin,
                                                        records.term_ends[at + 1] - begin, nullptr))
                                .release());
            PyObject* video =
                records.uuids.empty()
                    ? PyLong_FromUnsignedLong(records.integer_ids[at])
                    : PyBytes_FromStringAndSize(
                          reinterpret_cast<const char*>(records.uuids[at].data()), 16);
            PyList_SET_ITEM(videos.get(), k, expect(video).release());
            PyList_SET_ITEM(counts.get(), k,
                            expect(PyLong_FromUnsignedLong(records.counts[at])).release());
        }
        return expect(PyTuple_Pack(4, lines.get(), terms.get(), videos.get(), counts.get()));
    });
}

PyObject* index_sizes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return call_guarded([&]() -> PyRef {
        PyObject* slots[1];
        bind_arguments(SIZES, args, nargs, keyword_names, slots);
        ReceiverBorrow index(slots[0]);
        const Trie& trie = index.value().trie;
        std::size_t terms = 0;
        for (const std::uint8_t terminal : trie.is_terminal) terms += terminal;
        const std::size_t videos =
            trie.id_mode == IdMode::Int32 ? trie.video_int_ids.size() : trie.video_uuids.size();
        return expect(Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(terms),
                                    static_cast<Py_ssize_t>(videos),
                                    static_cast<Py_ssize_t>(trie.child_labels.size())));
    });
}

// The kelnor package's native helpers: private names, as the module's one
// public name is PrefixSearch.
PyMethodDef functions[] = {
    {"_build_from_arrow_stream", as_cfunction(build_from_arrow_stream),
     METH_FASTCALL | METH_KEYWORDS,
     "_build_from_arrow_stream(stream, video_top_n, term, video, count)\n--\n\n"},
    {"_build_from_columns", as_cfunction(build_from_columns), METH_FASTCALL | METH_KEYWORDS,
     "_build_from_columns(terms, videos, counts, video_top_n)\n--\n\n"},
    {"_build_from_text_records", as_cfunction(build_from_text_records),
     METH_FASTCALL | METH_KEYWORDS,
     "_build_from_text_records(data, separator, video_top_n)\n--\n\n"},
    {"_parse_text_records", as_cfunction(parse_text_records), METH_FASTCALL | METH_KEYWORDS,
     "_parse_text_records(data, separator)\n--\n\n"},
    {"_index_sizes", as_cfunction(index_sizes), METH_FASTCALL | METH_KEYWORDS,
     "_index_sizes(index)\n--\n\n"},
    {"_search_words", as_cfunction(search_words), METH_FASTCALL | METH_KEYWORDS,
     "_search_words(text)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* column_functions() {
    return functions;
}

}  // namespace kelnor::py
