// The two destinations of an encoding pass.
//
// Every encoder is a template over its sink and is run twice: once into a
// ByteCounter, which only measures, and once into a SpanWriter over a buffer
// of that measure (a vector, or the caller's own, such as a Python bytes
// object). Since both passes run the same code, the measure is exact and the
// output buffer is allocated once.
//
// A sink offers put_byte(b) and put(std::array<std::uint8_t, N>); the fixed
// size lets each write compile to a single store. put_bytes(span) copies a run
// of bytes that is already in its encoded form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kelnor {

class ByteCounter {
  public:
    void put_byte(std::uint8_t) noexcept { ++size_; }

    template <std::size_t N>
    void put(const std::array<std::uint8_t, N>&) noexcept {
        size_ += N;
    }

    void put_bytes(std::span<const std::uint8_t> bytes) noexcept { size_ += bytes.size(); }

    std::size_t size() const noexcept { return size_; }

  private:
    std::size_t size_ = 0;
};

// Writes into a buffer that the caller sized with a ByteCounter pass.
class SpanWriter {
  public:
    explicit SpanWriter(std::span<std::uint8_t> buffer) noexcept
        : buffer_(buffer), cursor_(buffer.data()) {}

    void put_byte(std::uint8_t byte) {
        ensure_room(1);
        *cursor_++ = byte;
    }

    template <std::size_t N>
    void put(const std::array<std::uint8_t, N>& bytes) {
        ensure_room(N);
        std::memcpy(cursor_, bytes.data(), N);
        cursor_ += N;
    }

    void put_bytes(std::span<const std::uint8_t> bytes) {
        ensure_room(bytes.size());
        if (!bytes.empty()) std::memcpy(cursor_, bytes.data(), bytes.size());
        cursor_ += bytes.size();
    }

    // Raises InternalFailure unless the buffer has been filled exactly.
    void finish() const {
        if (written() != buffer_.size()) fail_length_mismatch(written());
    }

  private:
    std::size_t written() const noexcept {
        return static_cast<std::size_t>(cursor_ - buffer_.data());
    }

    // The measuring pass sized the buffer; running past it means the two
    // passes disagree, which must not turn into a write outside the buffer.
    void ensure_room(std::size_t count) {
        if (buffer_.size() - written() < count) [[unlikely]]
            fail_length_mismatch(written() + count);
    }

    [[noreturn]] void fail_length_mismatch(std::size_t wanted) const;

    std::span<std::uint8_t> buffer_;
    std::uint8_t* cursor_;
};

}  // namespace kelnor
