#include "index/encoding/reader.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

#include "index/encoding/utf8.hpp"

namespace kelnor {
namespace {

constexpr AllowedEnumVariants BINARY_VARIANTS{0, 1};

}  // namespace

bool Reader::read_count(std::size_t& out) {
    std::uint64_t count = 0;
    if (!read_varint_u64(count)) return false;
    if (count > std::numeric_limits<std::uint32_t>::max()) return fail(OutsideUsizeRange{count});
    out = static_cast<std::size_t>(count);
    return true;
}

bool Reader::read_bool(bool& out) {
    std::uint8_t byte = 0;
    if (!read_byte(byte)) return false;
    if (byte > 1) return fail(InvalidBooleanValue{byte});
    out = byte == 1;
    return true;
}

bool Reader::read_option_tag(std::string_view type_name, bool& present) {
    std::uint8_t tag = 0;
    if (!read_byte(tag)) return false;
    if (tag > 1) return fail(UnexpectedVariant{type_name, BINARY_VARIANTS, tag});
    present = tag == 1;
    return true;
}

bool Reader::read_variant_index(std::string_view type_name, std::uint32_t variant_count,
                                std::uint32_t& out) {
    std::uint32_t index = 0;
    if (!read_varint_u32(index)) return false;
    if (index >= variant_count) {
        return fail(UnexpectedVariant{type_name, {0, variant_count - 1}, index});
    }
    out = index;
    return true;
}

bool Reader::read_bytes(std::span<std::uint8_t> out) {
    if (remaining() < out.size()) return fail_end(out.size() - remaining());
    std::memcpy(out.data(), cursor_, out.size());
    cursor_ += out.size();
    return true;
}

bool Reader::read_multibyte_char(char32_t& out) {
    if (cursor_ == end_) return fail_end(1);
    const Utf8Sequence sequence = decode_utf8_sequence({cursor_, end_});
    switch (sequence.status) {
        case Utf8Status::Decoded:
            out = sequence.code_point;
            cursor_ += sequence.length;
            return true;
        case Utf8Status::Truncated:
            return fail_end(sequence.length - remaining());
        case Utf8Status::BadLead:
        case Utf8Status::IllFormed:
            break;
    }
    // The bytes read, as far as the lead announced them; zeros after.
    std::array<std::uint8_t, 4> bytes{};
    std::copy_n(cursor_, sequence.length, bytes.begin());
    return fail(InvalidCharEncoding{bytes});
}

bool Reader::fail_end(std::size_t additional) {
    return fail(UnexpectedEnd{additional});
}

bool Reader::fail_marker(IntegerType expected, std::uint8_t marker) {
    IntegerType found = IntegerType::Reserved;
    if (marker == VARINT_MARKER_U64) found = IntegerType::U64;
    if (marker == VARINT_MARKER_U128) found = IntegerType::U128;
    return fail(InvalidIntegerType{expected, found});
}

bool Reader::fail(DecodeError error) {
    error_ = std::move(error);
    return false;
}

}  // namespace kelnor
