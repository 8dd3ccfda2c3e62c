// Reading the three columns of a build from Arrow arrays and streams,
// without copying them: each column becomes a view of its producer's buffers,
// which stay alive (owned here) until the build is done. A column of a type
// the build cannot take is refused by its name, with its type; so is one
// that breaks its type's layout (arrow_layout.hpp), before any of its buffers
// is read.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "builds/arrow_owned.hpp"
#include "builds/column_views.hpp"

namespace kelnor::columns {

// Why an array cannot be read as a column: a type the build does not take,
// or an array that breaks its type's layout.
struct ColumnError {
    enum class Kind : std::uint8_t { WrongType, Malformed } kind;
    std::string message;
};

// The view of an array as the terms, the video ids or the counts, or why it
// cannot be one: `what` names the column in the message.
// The texts of a dictionary-encoded column are kept in `dictionaries`, which
// must outlive the view.
Result<TextColumn, ColumnError> terms_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what,
                                         std::deque<DictionaryText>& dictionaries);
Result<VideoColumn, ColumnError> videos_of(const ArrowSchema& schema, const ArrowArray& array,
                                           const std::string& what);
Result<IntColumn, ColumnError> counts_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what);

// The message for three columns of different lengths, or nothing.
std::optional<std::string> check_lengths(std::int64_t terms, std::int64_t videos,
                                         std::int64_t counts);

// The batches of a stream of record batches, and their rows as chunks.
struct ArrowTable {
    OwnedSchema schema;
    std::vector<OwnedArray> batches;
    std::deque<DictionaryText> dictionaries;
    std::vector<ColumnChunk> chunks;
};

// The names of the terms, the video ids and the counts among a table's columns.
using ColumnNames = std::array<std::string, 3>;

// Every batch of a stream of record batches with the columns `names` (others
// are left alone). Refused when the stream fails, its schema or a batch breaks
// the layout of a table, a column is missing, named twice, of a wrong type or
// breaks its type's layout.
Result<ArrowTable, std::string> read_stream(OwnedStream stream,
                                            const ColumnNames& names = {"term", "video", "count"});

}  // namespace kelnor::columns
