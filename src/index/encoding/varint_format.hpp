// The variable-length integer form: its marker bytes, shared by its reader,
// and its one writer, shared by the image encoder and the payload table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kelnor {

// Values up to this one stand for themselves in one byte; the bytes above it
// are markers announcing the width of the little-endian value that follows.
inline constexpr std::uint8_t VARINT_SINGLE_BYTE_MAX = 250;
inline constexpr std::uint8_t VARINT_MARKER_U16 = 251;
inline constexpr std::uint8_t VARINT_MARKER_U32 = 252;
inline constexpr std::uint8_t VARINT_MARKER_U64 = 253;
// Announces a 128-bit value, which no read accepts and no write produces;
// 255 is reserved.
inline constexpr std::uint8_t VARINT_MARKER_U128 = 254;

// The bytes of the shortest form of `value`.
constexpr std::size_t varint_length(std::uint64_t value) noexcept {
    if (value <= VARINT_SINGLE_BYTE_MAX) return 1;
    if (value <= 0xFFFF) return 3;
    if (value <= 0xFFFFFFFF) return 5;
    return 9;
}

// Hands the shortest form of `value` (a std::uint32_t or std::uint64_t) to
// `put` as one std::array of 1, 3, 5 or 9 bytes, so that a sink writes each
// width as one fixed-size store.
template <class Int, class Put>
constexpr void encode_varint(Int value, Put&& put) {
    static_assert(std::is_same_v<Int, std::uint32_t> || std::is_same_v<Int, std::uint64_t>);
    const auto byte = [value](unsigned shift) { return static_cast<std::uint8_t>(value >> shift); };
    if (value <= VARINT_SINGLE_BYTE_MAX) {
        put(std::array<std::uint8_t, 1>{byte(0)});
    } else if (value <= 0xFFFF) {
        put(std::array<std::uint8_t, 3>{VARINT_MARKER_U16, byte(0), byte(8)});
    } else if (sizeof(Int) == 4 || value <= 0xFFFFFFFF) {
        put(std::array<std::uint8_t, 5>{VARINT_MARKER_U32, byte(0), byte(8), byte(16), byte(24)});
    } else if constexpr (sizeof(Int) == 8) {
        put(std::array<std::uint8_t, 9>{VARINT_MARKER_U64, byte(0), byte(8), byte(16), byte(24),
                                        byte(32), byte(40), byte(48), byte(56)});
    }
}

// Writes the shortest form of `value` at `at`, which has room for
// varint_length(value) bytes (5 at most), and returns the end of what it wrote.
inline std::uint8_t* write_varint(std::uint8_t* at, std::uint32_t value) noexcept {
    encode_varint(value, [&at](const auto& bytes) {
        std::memcpy(at, bytes.data(), bytes.size());
        at += bytes.size();
    });
    return at;
}

}  // namespace kelnor
