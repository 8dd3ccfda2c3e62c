#include "columns/arrow_columns.hpp"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "columns/arrow_chunks.hpp"
#include "columns/row_shift.hpp"

namespace kelnor::columns {
namespace {

using namespace std::string_literals;

// Arrow's name of a format string, for messages.
std::string type_name(const ArrowSchema& schema) {
    static constexpr std::pair<std::string_view, std::string_view> NAMES[] = {
        {"n", "null"},    {"b", "bool"},         {"c", "int8"},         {"C", "uint8"},
        {"s", "int16"},   {"S", "uint16"},       {"i", "int32"},        {"I", "uint32"},
        {"l", "int64"},   {"L", "uint64"},       {"e", "float16"},      {"f", "float32"},
        {"g", "float64"}, {"z", "binary"},       {"Z", "large_binary"}, {"vz", "binary_view"},
        {"u", "string"},  {"U", "large_string"}, {"vu", "string_view"}, {"+s", "struct"},
        {"+l", "list"},   {"+L", "large_list"},
    };
    const std::string_view format = schema.format != nullptr ? schema.format : "";
    std::string name(format);
    for (const auto& [code, shown] : NAMES) {
        if (code == format) name = shown;
    }
    if (schema.dictionary != nullptr) return "dictionary of " + type_name(*schema.dictionary);
    return name;
}

std::string_view format_of(const ArrowSchema& schema) {
    if (schema.dictionary != nullptr || schema.format == nullptr) return {};
    return schema.format;
}

// The buffer a producer left out (allowed for an empty data buffer) as an
// empty one.
const void* buffer_or_empty(const ArrowArray& array, std::int64_t index) {
    static constexpr std::uint64_t EMPTY = 0;
    const void* buffer = array.buffers[index];
    return buffer != nullptr ? buffer : &EMPTY;
}

Validity validity_of(const ArrowArray& array) {
    if (array.null_count == 0 || array.n_buffers < 1) return {};
    return {static_cast<const std::uint8_t*>(array.buffers[0])};
}

std::optional<IntColumn> int_column(std::string_view format, const ArrowArray& array) {
    static constexpr std::string_view CODES = "cCsSiIlL";
    const std::size_t code = format.size() == 1 ? CODES.find(format[0]) : std::string_view::npos;
    if (code == std::string_view::npos) return std::nullopt;
    IntColumn column;
    column.width = static_cast<std::uint8_t>(1U << (code / 2));
    column.is_signed = code % 2 == 0;
    column.values = buffer_or_empty(array, 1);
    column.validity = validity_of(array);
    column.offset = array.offset;
    return column;
}

std::optional<TextColumn> text_column(std::string_view format, const ArrowArray& array) {
    TextColumn column;
    column.validity = validity_of(array);
    column.offset = array.offset;
    if (format == "u" || format == "U") {
        if (array.n_buffers != 3) return std::nullopt;
        column.layout = format == "u" ? TextLayout::Offsets32 : TextLayout::Offsets64;
        column.offsets = buffer_or_empty(array, 1);
        column.data = static_cast<const char*>(buffer_or_empty(array, 2));
        return column;
    }
    if (format == "vu") {
        if (array.n_buffers < 3) return std::nullopt;
        const auto data_buffers = static_cast<std::size_t>(array.n_buffers - 3);
        column.layout = TextLayout::Views;
        column.offsets = buffer_or_empty(array, 1);
        column.view_data = {reinterpret_cast<const char* const*>(array.buffers + 2), data_buffers};
        column.view_data_sizes = {
            static_cast<const std::int64_t*>(buffer_or_empty(array, array.n_buffers - 1)),
            data_buffers};
        return column;
    }
    return std::nullopt;
}

// A dictionary-encoded array of integer keys into strings, as a text column
// whose texts `dictionaries` keeps.
std::optional<TextColumn> dictionary_column(const ArrowSchema& schema, const ArrowArray& array,
                                            std::deque<DictionaryText>& dictionaries) {
    if (schema.dictionary == nullptr || array.dictionary == nullptr || schema.format == nullptr) {
        return std::nullopt;
    }
    const std::optional<IntColumn> keys = int_column(schema.format, array);
    const std::optional<TextColumn> words =
        text_column(format_of(*schema.dictionary), *array.dictionary);
    if (!keys || !words) return std::nullopt;
    TextColumn column;
    column.layout = TextLayout::Dictionary;
    column.validity = keys->validity;
    column.offsets = keys->values;
    column.offset = keys->offset;
    column.dictionary =
        &dictionaries.emplace_back(DictionaryText{*keys, *words, array.dictionary->length});
    return column;
}

// The string format whose layout a binary format shares.
std::string_view text_format_of_binary(std::string_view format) {
    if (format == "z") return "u";
    if (format == "Z") return "U";
    if (format == "vz") return "vu";
    return {};
}

}  // namespace

// The column of `array`, or why it cannot be one: `what` names the column.
Result<TextColumn, std::string> terms_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what,
                                         std::deque<DictionaryText>& dictionaries) {
    if (auto column = text_column(format_of(schema), array)) return *column;
    if (auto column = dictionary_column(schema, array, dictionaries)) return *column;
    return what + " has type " + type_name(schema) +
           "; terms must be strings (string, large_string or string_view)";
}

Result<IntColumn, std::string> counts_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what) {
    if (auto column = int_column(format_of(schema), array)) return *column;
    return what + " has type " + type_name(schema) + "; counts must be integers";
}

Result<VideoColumn, std::string> videos_of(const ArrowSchema& schema, const ArrowArray& array,
                                           const std::string& what) {
    const std::string_view format = format_of(schema);
    if (auto column = int_column(format, array)) return VideoColumn(*column);
    if (format == "w:16") {
        UuidColumn column;
        column.values = static_cast<const std::uint8_t*>(buffer_or_empty(array, 1));
        column.validity = validity_of(array);
        column.offset = array.offset;
        return VideoColumn(column);
    }
    if (auto column = text_column(format, array)) return VideoColumn(*column);
    if (auto column = text_column(text_format_of_binary(format), array)) {
        return VideoColumn(BinaryUuidColumn{*column});
    }
    return what + " has type " + type_name(schema) +
           "; video ids must be integers, 16-byte UUIDs (fixed_size_binary(16)) or UUID strings";
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
        if (batch.n_children != schema.n_children) {
            return "a batch of the table has "s + std::to_string(batch.n_children) +
                   " columns, its schema " + std::to_string(schema.n_children);
        }
        if (batch.null_count != 0 && batch.n_buffers > 0 && batch.buffers[0] != nullptr) {
            return "a batch of the table has null rows"s;
        }
        const auto child = [&](int k) -> const ArrowArray& { return *batch.children[places[k]]; };
        auto terms =
            terms_of(child_schema(0), child(0), "column '" + names[0] + "'", table.dictionaries);
        if (!terms.ok()) return terms.error();
        auto videos = videos_of(child_schema(1), child(1), "column '" + names[1] + "'");
        if (!videos.ok()) return videos.error();
        auto counts = counts_of(child_schema(2), child(2), "column '" + names[2] + "'");
        if (!counts.ok()) return counts.error();
        ColumnChunk chunk{batch.length, terms.value(), videos.value(), counts.value()};
        shift_rows(chunk.terms, batch.offset);
        shift_rows(chunk.videos, batch.offset);
        shift_rows(chunk.counts, batch.offset);
        table.chunks.push_back(chunk);
    }
    return table;
}

}  // namespace kelnor::columns
