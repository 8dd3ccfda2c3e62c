// The marker bytes of the variable-length integer form, shared by its writer
// and its reader.
#pragma once

#include <cstdint>

namespace kelnor {

// Values up to this one stand for themselves in one byte; the bytes above it
// are markers announcing the width of the little-endian value that follows.
inline constexpr std::uint8_t kVarintSingleByteMax = 250;
inline constexpr std::uint8_t kVarintMarkerU16 = 251;
inline constexpr std::uint8_t kVarintMarkerU32 = 252;
inline constexpr std::uint8_t kVarintMarkerU64 = 253;
// Announces a 128-bit value, which no read accepts and no write produces;
// 255 is reserved.
inline constexpr std::uint8_t kVarintMarkerU128 = 254;

}  // namespace kelnor
