#include "encoding/reader.hpp"

#include <array>
#include <cstring>
#include <limits>
#include <utility>

namespace kelnor {
namespace {

constexpr AllowedEnumVariants kBinaryVariants{0, 1};

// Bytes in the UTF-8 sequence that `lead` (0x80 or above) starts; 0 for a
// byte that cannot start one.
std::size_t multibyte_utf8_length(std::uint8_t lead) {
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF5) return 4;
    return 0;
}

bool is_continuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// The well-formed UTF-8 sequences: the second byte's range depends on the
// lead, which is how overlong forms, surrogates and values above U+10FFFF are
// excluded; every later byte is a plain continuation.
bool is_well_formed(const std::array<std::uint8_t, 4>& bytes, std::size_t length) {
    const std::uint8_t lead = bytes[0];
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (bytes[1] < low || bytes[1] > high) return false;
    for (std::size_t i = 2; i < length; ++i) {
        if (!is_continuation(bytes[i])) return false;
    }
    return true;
}

char32_t decode_well_formed(const std::array<std::uint8_t, 4>& bytes, std::size_t length) {
    const std::uint8_t lead_bits[] = {0, 0, 0x1F, 0x0F, 0x07};
    char32_t c = bytes[0] & lead_bits[length];
    for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (bytes[i] & 0x3F);
    return c;
}

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
    if (tag > 1) return fail(UnexpectedVariant{type_name, kBinaryVariants, tag});
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
    std::array<std::uint8_t, 4> bytes{};
    if (!read_byte(bytes[0])) return false;
    const std::size_t length = multibyte_utf8_length(bytes[0]);
    if (length == 0) return fail(InvalidCharEncoding{bytes});
    if (!read_bytes(std::span(bytes).subspan(1, length - 1))) return false;
    if (!is_well_formed(bytes, length)) return fail(InvalidCharEncoding{bytes});
    out = decode_well_formed(bytes, length);
    return true;
}

bool Reader::fail_end(std::size_t additional) {
    return fail(UnexpectedEnd{additional});
}

bool Reader::fail_marker(IntegerType expected, std::uint8_t marker) {
    IntegerType found = IntegerType::Reserved;
    if (marker == kVarintMarkerU64) found = IntegerType::U64;
    if (marker == kVarintMarkerU128) found = IntegerType::U128;
    return fail(InvalidIntegerType{expected, found});
}

bool Reader::fail(DecodeError error) {
    error_ = std::move(error);
    return false;
}

}  // namespace kelnor
