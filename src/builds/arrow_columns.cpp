#include "builds/arrow_columns.hpp"

#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "builds/arrow_chunks.hpp"
#include "builds/arrow_layout.hpp"
#include "builds/row_shift.hpp"

namespace kelnor::columns {
namespace {

using namespace std::string_literals;

// Arrow's name of a format string, for messages. A dictionary's values may
// be a dictionary again: a producer's loop of them is cut short.
std::string type_name(const ArrowSchema& schema, int depth = 0) {
    static constexpr std::pair<std::string_view, std::string_view> NAMES[] = {
        {"n", "null"},    {"b", "bool"},         {"c", "int8"},         {"C", "uint8"},
        {"s", "int16"},   {"S", "uint16"},       {"i", "int32"},        {"I", "uint32"},
        {"l", "int64"},   {"L", "uint64"},       {"e", "float16"},      {"f", "float32"},
        {"g", "float64"}, {"z", "binary"},       {"Z", "large_binary"}, {"vz", "binary_view"},
        {"u", "string"},  {"U", "large_string"}, {"vu", "string_view"}, {"+s", "struct"},
        {"+l", "list"},   {"+L", "large_list"},
    };
    constexpr int MOST_NESTED_DICTIONARIES = 4;
    const std::string_view format = schema.format != nullptr ? schema.format : "";
    std::string name(format);
    for (const auto& [code, shown] : NAMES) {
        if (code == format) name = shown;
    }
    // The parametrised types are named by their family, with the parameters
    // of a fixed width or a decimal; the format string names the rest.
    static constexpr std::pair<std::string_view, std::string_view> FAMILIES[] = {
        {"w:", "fixed_size_binary"},
        {"d:", "decimal"},
        {"+w:", "fixed_size_list"},
        {"tt", "time"},
        {"td", "date"},
        {"ts", "timestamp"},
        {"tD", "duration"},
        {"ti", "interval"},
        {"+m", "map"},
        {"+u", "union"},
        {"+r", "run_end_encoded"},
        {"+v", "list_view"},
    };
    for (const auto& [prefix, family] : FAMILIES) {
        if (!format.starts_with(prefix)) continue;
        name = family;
        if (prefix == "w:" || prefix == "d:") name.append("(").append(format.substr(2)).append(")");
        break;
    }
    if (schema.dictionary != nullptr) {
        if (depth == MOST_NESTED_DICTIONARIES) return "dictionary of ...";
        return "dictionary of " + type_name(*schema.dictionary, depth + 1);
    }
    return name;
}

std::string_view format_of(const ArrowSchema& schema) {
    if (schema.dictionary != nullptr || schema.format == nullptr) return {};
    return schema.format;
}

ColumnError wrong_type(std::string message) {
    return {ColumnError::Kind::WrongType, std::move(message)};
}

ColumnError malformed(std::string message) {
    return {ColumnError::Kind::Malformed, std::move(message)};
}

// The buffer a producer left out, which the layout check allows only where
// no row reads it, as an empty one.
const void* buffer_or_empty(const ArrowArray& array, std::int64_t index) {
    static constexpr std::uint64_t EMPTY = 0;
    const void* buffer = array.buffers[index];
    return buffer != nullptr ? buffer : &EMPTY;
}

Validity validity_of(const ArrowArray& array) {
    if (array.null_count == 0) return {};
    return {static_cast<const std::uint8_t*>(array.buffers[0])};
}

// The integer formats, two by two: signed and unsigned of 1, 2, 4 and 8 bytes.
constexpr std::string_view INT_CODES = "cCsSiIlL";

std::size_t int_code(std::string_view format) {
    return format.size() == 1 ? INT_CODES.find(format[0]) : std::string_view::npos;
}

bool is_int(std::string_view format) {
    return int_code(format) != std::string_view::npos;
}

bool is_text(std::string_view format) {
    return format == "u" || format == "U" || format == "vu";
}

// The layout of a format the build reads.
ArrayLayout layout_of(std::string_view format) {
    if (is_int(format)) return {2, false, std::size_t{1} << (int_code(format) / 2), false};
    if (format == "w:16") return {2, false, 16, false};
    if (format == "u") return {3, false, 4, true};
    if (format == "U") return {3, false, 8, true};
    return {3, true, 16, false};  // string view
}

// Nothing when the array of `format` keeps its layout, else the first break of it.
std::optional<ColumnError> layout_refusal(std::string_view format, const ArrowArray& array,
                                          const ArrowSchema& schema, const std::string& what) {
    if (auto error = layout_error(array, layout_of(format), type_name(schema), what)) {
        return malformed(*std::move(error));
    }
    return std::nullopt;
}

IntColumn int_column(std::string_view format, const ArrowArray& array) {
    const std::size_t code = int_code(format);
    IntColumn column;
    column.width = static_cast<std::uint8_t>(1U << (code / 2));
    column.is_signed = code % 2 == 0;
    column.values = buffer_or_empty(array, 1);
    column.validity = validity_of(array);
    column.offset = array.offset;
    return column;
}

// The last offset of an offset layout, the size of its data.
template <class Offset>
std::int64_t last_offset(const ArrowArray& array) {
    if (array.buffers[1] == nullptr) return 0;  // no rows: the layout check saw to it
    return static_cast<const Offset*>(array.buffers[1])[array.offset + array.length];
}

Result<TextColumn, ColumnError> text_column(std::string_view format, const ArrowArray& array,
                                            const std::string& what) {
    TextColumn column;
    column.validity = validity_of(array);
    column.offset = array.offset;
    column.offsets = buffer_or_empty(array, 1);
    if (format == "u" || format == "U") {
        column.layout = format == "u" ? TextLayout::Offsets32 : TextLayout::Offsets64;
        column.data_size =
            format == "u" ? last_offset<std::int32_t>(array) : last_offset<std::int64_t>(array);
        if (column.data_size > 0 && array.buffers[2] == nullptr) {
            return malformed(what + " has no data buffer for its " +
                             std::to_string(column.data_size) + " bytes");
        }
        column.data = static_cast<const char*>(buffer_or_empty(array, 2));
        return column;
    }
    const auto data_buffers = static_cast<std::size_t>(array.n_buffers - 3);
    column.layout = TextLayout::Views;
    column.view_data = {reinterpret_cast<const char* const*>(array.buffers + 2), data_buffers};
    const void* sizes = array.buffers[array.n_buffers - 1];
    if (data_buffers > 0 && sizes == nullptr) {
        return malformed(what + " has no buffer of its data buffers' sizes");
    }
    column.view_data_sizes = {static_cast<const std::int64_t*>(sizes), data_buffers};
    for (std::size_t k = 0; k < data_buffers; ++k) {
        if (column.view_data[k] == nullptr && column.view_data_sizes[k] > 0) {
            return malformed(what + " has no data buffer " + std::to_string(k) + " for its " +
                             std::to_string(column.view_data_sizes[k]) + " bytes");
        }
    }
    return column;
}

// The string format whose layout a binary format shares.
std::string_view text_format_of_binary(std::string_view format) {
    if (format == "z") return "u";
    if (format == "Z") return "U";
    if (format == "vz") return "vu";
    return {};
}

// The view of a column whose layout is that of the string format `format`
// (a string, or binary read as one), once its layout is checked.
Result<TextColumn, ColumnError> checked_text_column(std::string_view format,
                                                    const ArrowArray& array,
                                                    const ArrowSchema& schema,
                                                    const std::string& what) {
    if (auto refusal = layout_refusal(format, array, schema, what)) return *std::move(refusal);
    return text_column(format, array, what);
}

// A dictionary-encoded array of integer keys into strings, as a text column
// whose texts `dictionaries` keeps. The keys and the words are each checked
// as a column of their own; a key is checked against the words as it is read.
Result<TextColumn, ColumnError> dictionary_column(const ArrowSchema& schema,
                                                  const ArrowArray& array, const std::string& what,
                                                  std::deque<DictionaryText>& dictionaries) {
    const std::string_view key_format = schema.format != nullptr ? schema.format : "";
    const std::string_view word_format = format_of(*schema.dictionary);
    if (!is_int(key_format) || !is_text(word_format)) {
        return wrong_type(what + " has type " + type_name(schema) +
                          ", not strings (string, large_string or string_view)");
    }
    if (array.dictionary == nullptr) return malformed(what + " has no dictionary of its words");
    if (auto refusal = layout_refusal(key_format, array, schema, what)) return *std::move(refusal);
    auto words =
        checked_text_column(word_format, *array.dictionary, *schema.dictionary, what + "'s words");
    if (!words.ok()) return words.error();
    const IntColumn keys = int_column(key_format, array);
    TextColumn column;
    column.layout = TextLayout::Dictionary;
    column.validity = keys.validity;
    column.offsets = keys.values;
    column.offset = keys.offset;
    column.dictionary = &dictionaries.emplace_back(
        DictionaryText{keys, std::move(words).value(), array.dictionary->length});
    return column;
}

// The error of a column's view as the stream's message.
template <class Column>
std::optional<std::string> error_of(const Result<Column, ColumnError>& column) {
    if (column.ok()) return std::nullopt;
    return column.error().message;
}

// Nothing when a batch of a stream whose schema has `columns` columns keeps
// the layout of a struct array without nulls, else why not.
std::optional<std::string> batch_error(const ArrowArray& batch, std::int64_t columns) {
    if (batch.length < 0 || batch.offset < 0 ||
        batch.length > std::numeric_limits<std::int64_t>::max() - batch.offset) {
        return "a batch of the table has a negative or overflowing length or offset (length "s +
               std::to_string(batch.length) + ", offset " + std::to_string(batch.offset) + ")";
    }
    if (batch.n_children != columns) {
        return "a batch of the table has "s + std::to_string(batch.n_children) +
               " columns, its schema " + std::to_string(columns);
    }
    if (batch.n_children > 0 && batch.children == nullptr) {
        return "a batch of the table has "s + std::to_string(batch.n_children) +
               " columns but no list of them";
    }
    for (std::int64_t child = 0; child < batch.n_children; ++child) {
        if (batch.children[child] == nullptr) {
            return "a batch of the table has no column "s + std::to_string(child);
        }
    }
    if (batch.n_buffers > 0 && batch.buffers == nullptr) {
        return "a batch of the table has "s + std::to_string(batch.n_buffers) +
               " buffers but no list of them";
    }
    if (batch.null_count != 0 && batch.n_buffers > 0 && batch.buffers[0] != nullptr) {
        return "a batch of the table has null rows"s;
    }
    return std::nullopt;
}

}  // namespace

// The column of `array`, or why it cannot be one: `what` names the column.
Result<TextColumn, ColumnError> terms_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what,
                                         std::deque<DictionaryText>& dictionaries) {
    if (schema.dictionary != nullptr) return dictionary_column(schema, array, what, dictionaries);
    const std::string_view format = format_of(schema);
    if (!is_text(format)) {
        return wrong_type(what + " has type " + type_name(schema) +
                          ", not strings (string, large_string or string_view)");
    }
    return checked_text_column(format, array, schema, what);
}

Result<IntColumn, ColumnError> counts_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what) {
    const std::string_view format = format_of(schema);
    if (!is_int(format)) {
        return wrong_type(what + " has type " + type_name(schema) + "; counts must be integers");
    }
    if (auto refusal = layout_refusal(format, array, schema, what)) return *std::move(refusal);
    return int_column(format, array);
}

Result<VideoColumn, ColumnError> videos_of(const ArrowSchema& schema, const ArrowArray& array,
                                           const std::string& what) {
    const std::string_view format = format_of(schema);
    const std::string_view binary_as_text = text_format_of_binary(format);
    if (!is_int(format) && format != "w:16" && !is_text(format) && binary_as_text.empty()) {
        return wrong_type(what + " has type " + type_name(schema) +
                          "; video ids must be integers, 16-byte UUIDs (fixed_size_binary(16)) "
                          "or UUID strings");
    }
    if (!binary_as_text.empty()) {
        auto values = checked_text_column(binary_as_text, array, schema, what);
        if (!values.ok()) return values.error();
        return VideoColumn(BinaryUuidColumn{std::move(values).value()});
    }
    if (auto refusal = layout_refusal(format, array, schema, what)) return *std::move(refusal);
    if (is_int(format)) return VideoColumn(int_column(format, array));
    if (format == "w:16") {
        UuidColumn column;
        column.values = static_cast<const std::uint8_t*>(buffer_or_empty(array, 1));
        column.validity = validity_of(array);
        column.offset = array.offset;
        return VideoColumn(column);
    }
    auto text = text_column(format, array, what);
    if (!text.ok()) return text.error();
    return VideoColumn(std::move(text).value());
}

std::optional<std::string> check_lengths(std::int64_t terms, std::int64_t videos,
                                         std::int64_t counts) {
    if (videos == terms && counts == terms) return std::nullopt;
    return "the columns differ in length: "s + std::to_string(terms) + " terms, " +
           std::to_string(videos) + " video ids, " + std::to_string(counts) + " counts";
}

Result<ArrowTable, std::string> read_stream(OwnedStream stream, const ColumnNames& names) {
    ArrowArrayStream& source = stream.get();
    const auto failure = [&](int code, const char* doing) {
        return stream_failure(source, code, doing, "the table's stream");
    };
    ArrowTable table;
    ArrowSchema schema_out;
    if (const int code = source.get_schema(&source, &schema_out)) {
        return failure(code, "to give its schema");
    }
    table.schema = OwnedSchema(schema_out);
    const ArrowSchema& schema = table.schema.get();
    if (format_of(schema) != "+s") {
        return "a table's stream gives record batches, not " + type_name(schema);
    }
    if (schema.n_children < 0 || (schema.n_children > 0 && schema.children == nullptr)) {
        return "the table's schema has "s + std::to_string(schema.n_children) +
               " columns but no list of them";
    }
    for (std::int64_t child = 0; child < schema.n_children; ++child) {
        if (schema.children[child] == nullptr) {
            return "the table's schema has no description of its column "s + std::to_string(child);
        }
    }
    // Where each of the three columns stands among the schema's children.
    std::int64_t places[3];
    for (int k = 0; k < 3; ++k) {
        places[k] = -1;
        std::int64_t found = 0;
        for (std::int64_t child = 0; child < schema.n_children; ++child) {
            const char* name = schema.children[child]->name;
            if (name != nullptr && name == names[k]) {
                places[k] = child;
                ++found;
            }
        }
        if (found > 1) {
            return "the table has "s + std::to_string(found) + " columns named '" + names[k] +
                   "'; name the one to read";
        }
        if (places[k] < 0) {
            std::string listed;
            for (std::int64_t child = 0; child < schema.n_children; ++child) {
                const char* name = schema.children[child]->name;
                listed += (child ? ", '"s : "'"s) + (name ? name : "") + "'";
            }
            return "the table has no column '"s + names[k] +
                   "' (its columns: " + (listed.empty() ? "none"s : listed) + ")";
        }
    }
    const auto child_schema = [&](int k) -> const ArrowSchema& {
        return *schema.children[places[k]];
    };
    for (;;) {
        ArrowArray batch_out;
        if (const int code = source.get_next(&source, &batch_out)) {
            return failure(code, "to give a batch");
        }
        if (batch_out.release == nullptr) break;
        table.batches.emplace_back(batch_out);
        const ArrowArray& batch = table.batches.back().get();
        if (auto error = batch_error(batch, schema.n_children)) return *std::move(error);
        const auto child = [&](int k) -> const ArrowArray& { return *batch.children[places[k]]; };
        const std::string whats[] = {"column '" + names[0] + "'", "column '" + names[1] + "'",
                                     "column '" + names[2] + "'"};
        auto terms = terms_of(child_schema(0), child(0), whats[0], table.dictionaries);
        if (auto error = error_of(terms)) return *std::move(error);
        auto videos = videos_of(child_schema(1), child(1), whats[1]);
        if (auto error = error_of(videos)) return *std::move(error);
        auto counts = counts_of(child_schema(2), child(2), whats[2]);
        if (auto error = error_of(counts)) return *std::move(error);
        for (int k = 0; k < 3; ++k) {
            if (auto error = child_length_error(batch, child(k), whats[k])) {
                return *std::move(error);
            }
        }
        ColumnChunk chunk{batch.length, terms.value(), videos.value(), counts.value()};
        shift_rows(chunk.terms, batch.offset);
        shift_rows(chunk.videos, batch.offset);
        shift_rows(chunk.counts, batch.offset);
        table.chunks.push_back(chunk);
    }
    return table;
}

}  // namespace kelnor::columns
