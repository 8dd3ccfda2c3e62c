// Encoding into a buffer allocated once at its exact final size.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "index/encoding/byte_sinks.hpp"

namespace kelnor {

// Runs `encode(sink)` (a generic callable) into a SpanWriter over `out`, which
// the caller sized with a ByteCounter pass of the same `encode`. Raises
// InternalFailure unless the encoding fills `out` exactly.
template <class Encode>
void encode_into(const Encode& encode, std::span<std::uint8_t> out) {
    SpanWriter writer(out);
    encode(writer);
    writer.finish();
}

// Runs `encode(sink)` first into a ByteCounter and then into a vector of
// exactly the counted size, and returns the bytes.
template <class Encode>
std::vector<std::uint8_t> encode_to_vec(const Encode& encode) {
    ByteCounter counter;
    encode(counter);
    std::vector<std::uint8_t> bytes(counter.size());
    encode_into(encode, bytes);
    return bytes;
}

}  // namespace kelnor
