// Encoding into a buffer allocated once at its exact final size.
#pragma once

#include <cstdint>
#include <vector>

#include "encoding/byte_sinks.hpp"

namespace kelnor {

// Runs `encode(sink)` (a generic callable) first into a ByteCounter and then
// into a VecWriter of exactly the counted size, and returns the bytes.
template <class Encode>
std::vector<std::uint8_t> encode_to_vec(const Encode& encode) {
    ByteCounter counter;
    encode(counter);
    VecWriter writer(counter.size());
    encode(writer);
    return std::move(writer).finish();
}

}  // namespace kelnor
