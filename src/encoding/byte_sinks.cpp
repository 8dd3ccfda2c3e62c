#include "encoding/byte_sinks.hpp"

#include <string>

#include "internal_failure.hpp"

namespace kelnor {

void VecWriter::fail_length_mismatch() const {
    throw InternalFailure("encoding wrote " + std::to_string(written()) +
                          " bytes into a buffer measured at " + std::to_string(buffer_.size()));
}

}  // namespace kelnor
