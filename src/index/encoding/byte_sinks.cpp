#include "index/encoding/byte_sinks.hpp"

#include <string>

#include "base/internal_failure.hpp"

namespace kelnor {

void SpanWriter::fail_length_mismatch(std::size_t wanted) const {
    throw InternalFailure("encoding wrote " + std::to_string(wanted) +
                          " bytes into a buffer measured at " + std::to_string(buffer_.size()));
}

}  // namespace kelnor
