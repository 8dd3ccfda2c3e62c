// A list of unsigned 32-bit values kept in the variable-length integer form
// of the index image (encoding/varint_format.hpp), read in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "index/encoding/varint_format.hpp"

namespace kelnor {

// The value at `at`, which holds a well-formed variable-length u32; moves
// `at` past it.
inline std::uint32_t read_packed_u32(const std::uint8_t*& at) noexcept {
    const std::uint8_t marker = *at;
    if (marker <= VARINT_SINGLE_BYTE_MAX) {
        ++at;
        return marker;
    }
    if (marker == VARINT_MARKER_U16) {
        const std::uint32_t value = std::uint32_t{at[1]} | std::uint32_t{at[2]} << 8;
        at += 3;
        return value;
    }
    const std::uint32_t value = std::uint32_t{at[1]} | std::uint32_t{at[2]} << 8 |
                                std::uint32_t{at[3]} << 16 | std::uint32_t{at[4]} << 24;
    at += 5;
    return value;
}

// `size()` values packed from `data` on; viewed, not owned.
class PackedList {
  public:
    class iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = std::uint32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::uint32_t*;
        using reference = std::uint32_t;

        iterator() = default;
        iterator(const std::uint8_t* at, std::size_t index) noexcept : at_(at), index_(index) {}

        std::uint32_t operator*() const noexcept {
            const std::uint8_t* at = at_;
            return read_packed_u32(at);
        }
        iterator& operator++() noexcept {
            read_packed_u32(at_);
            ++index_;
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const iterator& other) const noexcept { return index_ == other.index_; }

      private:
        const std::uint8_t* at_ = nullptr;
        std::size_t index_ = 0;
    };

    PackedList() = default;
    PackedList(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    std::size_t size() const noexcept { return size_; }
    iterator begin() const noexcept { return {data_, 0}; }
    iterator end() const noexcept { return {nullptr, size_}; }

    // The first `count` values (all of them when there are fewer).
    PackedList first(std::size_t count) const noexcept {
        return {data_, count < size_ ? count : size_};
    }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace kelnor
