// Reading the value kinds of the compact encoding from untrusted bytes.
//
// Every read either consumes exactly the bytes of one value and returns true,
// or returns false and leaves the reason in error(); a decoder stops at the
// first false. Nothing is ever read past the end of the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "index/encoding/decode_error.hpp"
#include "index/encoding/varint_format.hpp"

namespace kelnor {

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> input) noexcept
        : cursor_(input.data()), end_(input.data() + input.size()) {}

    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - cursor_); }

    // The next byte to read; the bytes between two such positions are those
    // that the reads in between consumed.
    const std::uint8_t* position() const noexcept { return cursor_; }

    // The reason of the last failed read.
    const DecodeError& error() const noexcept { return error_; }

    [[nodiscard]] bool read_byte(std::uint8_t& out) {
        if (cursor_ == end_) return fail_end(1);
        out = *cursor_++;
        return true;
    }

    // Variable-length integers. With room for the longest form, marker and
    // value come from the window without further bounds checks; near the end
    // each part is checked so that a shortfall is reported exactly.
    [[nodiscard]] bool read_varint_u32(std::uint32_t& out) {
        if (remaining() >= LONGEST_U32) return read_varint<std::uint32_t, false>(out);
        return read_varint<std::uint32_t, true>(out);
    }

    [[nodiscard]] bool read_varint_u64(std::uint64_t& out) {
        if (remaining() >= LONGEST_U64) return read_varint<std::uint64_t, false>(out);
        return read_varint<std::uint64_t, true>(out);
    }

    // A sequence's element count (at most 2^32 - 1).
    [[nodiscard]] bool read_count(std::size_t& out);

    [[nodiscard]] bool read_bool(bool& out);

    // An option's tag byte: 0 absent, 1 present.
    [[nodiscard]] bool read_option_tag(std::string_view type_name, bool& present);

    // An enumeration's variant number, below `variant_count`.
    [[nodiscard]] bool read_variant_index(std::string_view type_name, std::uint32_t variant_count,
                                          std::uint32_t& out);

    [[nodiscard]] bool read_char(char32_t& out) {
        if (cursor_ != end_ && *cursor_ < 0x80) {
            out = *cursor_++;
            return true;
        }
        return read_multibyte_char(out);
    }

    // Exactly out.size() bytes, as they are.
    [[nodiscard]] bool read_bytes(std::span<std::uint8_t> out);

    // How many elements of a sequence of `count` to reserve room for: no more
    // than the rest of the input could hold, since the count itself is
    // untrusted. `min_element_size` is the fewest bytes an element takes.
    std::size_t reservable(std::size_t count, std::size_t min_element_size) const noexcept {
        return std::min(count, remaining() / min_element_size);
    }

  private:
    static constexpr std::size_t LONGEST_U32 = 5;
    static constexpr std::size_t LONGEST_U64 = 9;

    template <class Int, bool Checked>
    bool read_varint(Int& out) {
        if constexpr (Checked) {
            if (cursor_ == end_) return fail_end(1);
        }
        const std::uint8_t marker = *cursor_;
        if (marker <= VARINT_SINGLE_BYTE_MAX) {
            out = marker;
            ++cursor_;
            return true;
        }
        if (marker == VARINT_MARKER_U16) return take_little_endian<Int, 2, Checked>(out);
        if (marker == VARINT_MARKER_U32) return take_little_endian<Int, 4, Checked>(out);
        if constexpr (sizeof(Int) >= 8) {
            if (marker == VARINT_MARKER_U64) return take_little_endian<Int, 8, Checked>(out);
        }
        return fail_marker(sizeof(Int) >= 8 ? IntegerType::U64 : IntegerType::U32, marker);
    }

    // The `Size` bytes after the marker at the cursor, as a little-endian value.
    template <class Int, std::size_t Size, bool Checked>
    bool take_little_endian(Int& out) {
        if constexpr (Checked) {
            const std::size_t after_marker = remaining() - 1;
            if (after_marker < Size) return fail_end(Size - after_marker);
        }
        const std::uint8_t* bytes = cursor_ + 1;
        Int value = 0;
        for (std::size_t i = 0; i < Size; ++i) value |= static_cast<Int>(bytes[i]) << (8 * i);
        out = value;
        cursor_ += 1 + Size;
        return true;
    }

    // At the end of the input or at a lead byte of 0x80 or above.
    bool read_multibyte_char(char32_t& out);

    bool fail_end(std::size_t additional);
    bool fail_marker(IntegerType expected, std::uint8_t marker);
    bool fail(DecodeError error);

    const std::uint8_t* cursor_;
    const std::uint8_t* end_;
    DecodeError error_;
};

}  // namespace kelnor
