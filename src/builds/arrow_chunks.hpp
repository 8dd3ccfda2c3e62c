// Reading every array of an Arrow C stream: the chunks of a chunked column,
// or the record batches of a table.
#pragma once

#include <string>
#include <vector>

#include "base/result.hpp"
#include "builds/arrow_owned.hpp"

namespace kelnor::columns {

struct ArrowChunks {
    OwnedSchema schema;
    std::vector<OwnedArray> arrays;
};

// The message of a stream's failure (`code`, and its own words when it has
// some) while `doing` something.
std::string stream_failure(ArrowArrayStream& stream, int code, const char* doing,
                           const std::string& what);

// The schema and every array of `stream`, taken over, or why the stream
// failed, in words that name it as `what` ("the table's stream").
Result<ArrowChunks, std::string> read_chunks(OwnedStream stream, const std::string& what);

}  // namespace kelnor::columns
