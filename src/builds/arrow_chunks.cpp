#include "builds/arrow_chunks.hpp"

#include <cstring>
#include <utility>

namespace kelnor::columns {

std::string stream_failure(ArrowArrayStream& stream, int code, const char* doing,
                           const std::string& what) {
    const char* detail = stream.get_last_error ? stream.get_last_error(&stream) : nullptr;
    return what + " failed " + doing + ": " +
           (detail != nullptr ? std::string(detail) : std::string(std::strerror(code)));
}

Result<ArrowChunks, std::string> read_chunks(OwnedStream stream, const std::string& what) {
    ArrowArrayStream& source = stream.get();
    const auto failure = [&](int code, const char* doing) {
        return stream_failure(source, code, doing, what);
    };
    ArrowChunks chunks;
    ArrowSchema schema;
    if (const int code = source.get_schema(&source, &schema)) {
        return failure(code, "to give its schema");
    }
    chunks.schema = OwnedSchema(schema);
    for (;;) {
        ArrowArray array;
        if (const int code = source.get_next(&source, &array)) {
            return failure(code, "to give a batch");
        }
        if (array.release == nullptr) break;
        chunks.arrays.emplace_back(array);
    }
    return chunks;
}

}  // namespace kelnor::columns
