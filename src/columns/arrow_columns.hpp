// Reading the three columns of a build from Arrow arrays and streams,
// without copying them: each column becomes a view of its producer's buffers,
// which stay alive (owned here) until the build is done. A column of a type
// the build cannot take is refused by its name, with its type.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "columns/arrow_owned.hpp"
#include "columns/column_views.hpp"
#include "result.hpp"

namespace kelnor::columns {

// The view of an array as the terms, the video ids or the counts, or why it
// cannot be one (its type): `what` names the column in the message.
// The texts of a dictionary-encoded column are kept in `dictionaries`, which
// must outlive the view.
Result<TextColumn, std::string> terms_of(const ArrowSchema& schema, const ArrowArray& array,
                                         const std::string& what,
                                         std::deque<DictionaryText>& dictionaries);
Result<VideoColumn, std::string> videos_of(const ArrowSchema& schema, const ArrowArray& array,
                                           const std::string& what);
Result<IntColumn, std::string> counts_of(const ArrowSchema& schema, const ArrowArray& array,
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
// are left alone). Refused when the stream fails, a column is missing, named
// twice or of a wrong type.
Result<ArrowTable, std::string> read_stream(OwnedStream stream, const ColumnNames& names);

}  // namespace kelnor::columns
