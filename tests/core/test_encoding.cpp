// The value kinds of the compact encoding: integer forms, counts, booleans,
// option tags, characters, and the rendering of every decode error.
#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "check.hpp"
#include "index/encoding/encode_to_vec.hpp"
#include "index/encoding/reader.hpp"
#include "index/encoding/value_writers.hpp"

namespace kelnor::core_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();

Bytes encoded_u32(std::uint32_t value) {
    return encode_to_vec([value](auto& sink) { varint_encode_u32(sink, value); });
}

Bytes encoded_u64(std::uint64_t value) {
    return encode_to_vec([value](auto& sink) { varint_encode_u64(sink, value); });
}

Bytes encoded_char(char32_t c) {
    return encode_to_vec([c](auto& sink) { write_char(sink, c); });
}

// Runs `read(reader)` on `input`: the rendered error, or "ok" and the bytes
// consumed when the read succeeds.
template <class Read>
std::string outcome(const Bytes& input, Read&& read) {
    Reader reader{std::span<const std::uint8_t>(input)};
    if (!read(reader)) return render(reader.error());
    return "ok, " + std::to_string(input.size() - reader.remaining()) + " bytes";
}

std::string u32_read(const Bytes& input, std::uint32_t expected) {
    return outcome(input, [expected](Reader& reader) {
        std::uint32_t value = 0;
        return reader.read_varint_u32(value) && value == expected;
    });
}

std::string u64_read(const Bytes& input, std::uint64_t expected) {
    return outcome(input, [expected](Reader& reader) {
        std::uint64_t value = 0;
        return reader.read_varint_u64(value) && value == expected;
    });
}

std::string char_read(const Bytes& input, char32_t expected = 0) {
    return outcome(input, [expected](Reader& reader) {
        char32_t value = 0;
        return reader.read_char(value) && value == expected;
    });
}

// `bytes` followed by `padding` zero bytes, so that a read takes either the
// windowed path (enough input left) or the checked one.
Bytes padded(Bytes bytes, std::size_t padding) {
    bytes.resize(bytes.size() + padding, 0);
    return bytes;
}

KELNOR_TEST(integers_are_written_in_their_shortest_form) {
    CHECK_EQ(encoded_u32(0), (Bytes{0x00}));
    CHECK_EQ(encoded_u32(250), (Bytes{0xFA}));
    CHECK_EQ(encoded_u32(251), (Bytes{0xFB, 0xFB, 0x00}));
    CHECK_EQ(encoded_u32(65535), (Bytes{0xFB, 0xFF, 0xFF}));
    CHECK_EQ(encoded_u32(65536), (Bytes{0xFC, 0x00, 0x00, 0x01, 0x00}));
    CHECK_EQ(encoded_u32(U32_MAX), (Bytes{0xFC, 0xFF, 0xFF, 0xFF, 0xFF}));
    CHECK_EQ(encoded_u64(U32_MAX), (Bytes{0xFC, 0xFF, 0xFF, 0xFF, 0xFF}));
    CHECK_EQ(encoded_u64(std::uint64_t{1} << 32),
             (Bytes{0xFD, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
    CHECK_EQ(encoded_u64(std::numeric_limits<std::uint64_t>::max()),
             (Bytes{0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

KELNOR_TEST(integers_read_back_on_both_paths) {
    for (const std::size_t padding : {0u, 9u}) {
        for (const std::uint32_t value : {0u, 250u, 251u, 65535u, 65536u, U32_MAX - 1, U32_MAX}) {
            const std::string consumed = std::to_string(encoded_u32(value).size());
            CHECK_EQ(u32_read(padded(encoded_u32(value), padding), value),
                     "ok, " + consumed + " bytes");
            CHECK_EQ(u64_read(padded(encoded_u32(value), padding), value),
                     "ok, " + consumed + " bytes");
        }
        CHECK_EQ(
            u64_read(padded(encoded_u64(std::uint64_t{1} << 32), padding), std::uint64_t{1} << 32),
            "ok, 9 bytes");
    }
}

KELNOR_TEST(longer_integer_forms_are_accepted) {
    CHECK_EQ(u32_read({0xFB, 0x05, 0x00}, 5), "ok, 3 bytes");
    CHECK_EQ(u32_read({0xFC, 0x05, 0x00, 0x00, 0x00}, 5), "ok, 5 bytes");
    CHECK_EQ(u64_read({0xFD, 0x05, 0, 0, 0, 0, 0, 0, 0}, 5), "ok, 9 bytes");
}

KELNOR_TEST(wider_markers_fail_whatever_follows) {
    for (const std::size_t padding : {0u, 8u, 9u, 16u}) {
        CHECK_EQ(u32_read(padded({0xFD}, padding), 0),
                 "InvalidIntegerType { expected: U32, found: U64 }");
        CHECK_EQ(u32_read(padded({0xFE}, padding), 0),
                 "InvalidIntegerType { expected: U32, found: U128 }");
        CHECK_EQ(u32_read(padded({0xFF}, padding), 0),
                 "InvalidIntegerType { expected: U32, found: Reserved }");
        CHECK_EQ(u64_read(padded({0xFE}, padding), 0),
                 "InvalidIntegerType { expected: U64, found: U128 }");
        CHECK_EQ(u64_read(padded({0xFF}, padding), 0),
                 "InvalidIntegerType { expected: U64, found: Reserved }");
    }
}

KELNOR_TEST(a_short_integer_reports_the_missing_bytes) {
    CHECK_EQ(u32_read({}, 0), "UnexpectedEnd { additional: 1 }");
    CHECK_EQ(u32_read({0xFB}, 0), "UnexpectedEnd { additional: 2 }");
    CHECK_EQ(u32_read({0xFB, 0x01}, 0), "UnexpectedEnd { additional: 1 }");
    CHECK_EQ(u32_read({0xFC, 0x01, 0x02}, 0), "UnexpectedEnd { additional: 2 }");
    CHECK_EQ(u32_read({0xFC, 0x01, 0x02, 0x03}, 0), "UnexpectedEnd { additional: 1 }");
    CHECK_EQ(u64_read({0xFD}, 0), "UnexpectedEnd { additional: 8 }");
    CHECK_EQ(u64_read({0xFD, 1, 2, 3}, 0), "UnexpectedEnd { additional: 5 }");
    CHECK_EQ(u64_read({0xFD, 1, 2, 3, 4, 5, 6, 7}, 0), "UnexpectedEnd { additional: 1 }");
}

KELNOR_TEST(counts_end_at_the_32_bit_range) {
    const auto count_read = [](const Bytes& input) {
        return outcome(input, [](Reader& reader) {
            std::size_t count = 0;
            return reader.read_count(count) && count == U32_MAX;
        });
    };
    CHECK_EQ(count_read(encoded_u64(U32_MAX)), "ok, 5 bytes");
    CHECK_EQ(count_read(encoded_u64(std::uint64_t{1} << 32)), "OutsideUsizeRange(4294967296)");
    CHECK_EQ(count_read(encoded_u64(std::numeric_limits<std::uint64_t>::max())),
             "OutsideUsizeRange(18446744073709551615)");
}

KELNOR_TEST(reservations_never_exceed_what_the_input_holds) {
    const Bytes input(10, 0);
    const Reader reader{std::span<const std::uint8_t>(input)};
    CHECK_EQ(reader.reservable(U32_MAX, 1), std::size_t{10});
    CHECK_EQ(reader.reservable(U32_MAX, 16), std::size_t{0});
    CHECK_EQ(reader.reservable(3, 1), std::size_t{3});
}

KELNOR_TEST(booleans_and_option_tags) {
    const auto bool_read = [](const Bytes& input, bool expected) {
        return outcome(input, [expected](Reader& reader) {
            bool value = !expected;
            return reader.read_bool(value) && value == expected;
        });
    };
    CHECK_EQ(bool_read({0x00}, false), "ok, 1 bytes");
    CHECK_EQ(bool_read({0x01}, true), "ok, 1 bytes");
    CHECK_EQ(bool_read({0x02}, false), "InvalidBooleanValue(2)");
    CHECK_EQ(bool_read({0xFF}, false), "InvalidBooleanValue(255)");
    CHECK_EQ(bool_read({}, false), "UnexpectedEnd { additional: 1 }");

    const auto tag_read = [](const Bytes& input) {
        return outcome(input, [](Reader& reader) {
            bool present = false;
            return reader.read_option_tag("Some::Type", present) && present;
        });
    };
    CHECK_EQ(tag_read({0x01}), "ok, 1 bytes");
    CHECK_EQ(tag_read({0x02}),
             "UnexpectedVariant { type_name: \"Some::Type\", allowed: Range { min: 0, max: 1 }, "
             "found: 2 }");
    // A tag is a plain byte, not a variable-length integer.
    CHECK_EQ(tag_read({0xFB, 0x01, 0x00}),
             "UnexpectedVariant { type_name: \"Some::Type\", allowed: Range { min: 0, max: 1 }, "
             "found: 251 }");
    CHECK_EQ(tag_read({}), "UnexpectedEnd { additional: 1 }");
}

KELNOR_TEST(variant_numbers_are_variable_length_integers) {
    const auto variant_read = [](const Bytes& input, std::uint32_t expected) {
        return outcome(input, [expected](Reader& reader) {
            std::uint32_t number = 0;
            return reader.read_variant_index("IdMode", 2, number) && number == expected;
        });
    };
    CHECK_EQ(variant_read({0x01}, 1), "ok, 1 bytes");
    CHECK_EQ(variant_read({0xFB, 0x01, 0x00}, 1), "ok, 3 bytes");
    CHECK_EQ(variant_read({0x02}, 0),
             "UnexpectedVariant { type_name: \"IdMode\", allowed: Range { min: 0, max: 1 }, "
             "found: 2 }");
    CHECK_EQ(variant_read({0xFC, 0xFF, 0xFF, 0xFF, 0xFF}, 0),
             "UnexpectedVariant { type_name: \"IdMode\", allowed: Range { min: 0, max: 1 }, "
             "found: 4294967295 }");
    CHECK_EQ(variant_read({0xFD}, 0), "InvalidIntegerType { expected: U32, found: U64 }");
}

KELNOR_TEST(characters_are_written_as_utf8) {
    CHECK_EQ(encoded_char(U'\0'), (Bytes{0x00}));
    CHECK_EQ(encoded_char(U'\x7F'), (Bytes{0x7F}));
    CHECK_EQ(encoded_char(U'\u00E9'), (Bytes{0xC3, 0xA9}));
    CHECK_EQ(encoded_char(U'\u07FF'), (Bytes{0xDF, 0xBF}));
    CHECK_EQ(encoded_char(U'\u0800'), (Bytes{0xE0, 0xA0, 0x80}));
    CHECK_EQ(encoded_char(U'\uFFFF'), (Bytes{0xEF, 0xBF, 0xBF}));
    CHECK_EQ(encoded_char(U'\U00010000'), (Bytes{0xF0, 0x90, 0x80, 0x80}));
    CHECK_EQ(encoded_char(U'\U0010FFFF'), (Bytes{0xF4, 0x8F, 0xBF, 0xBF}));
}

KELNOR_TEST(characters_read_back) {
    for (const char32_t c : {U'\0', U'a', U'\u00E9', U'\u0800', U'\uFFFF', U'\U0010FFFF'}) {
        const Bytes bytes = encoded_char(c);
        CHECK_EQ(char_read(bytes, c), "ok, " + std::to_string(bytes.size()) + " bytes");
    }
}

KELNOR_TEST(malformed_characters_are_refused) {
    CHECK_EQ(char_read({0xC3, 0x28}), "InvalidCharEncoding([195, 40, 0, 0])");
    CHECK_EQ(char_read({0xE2}), "UnexpectedEnd { additional: 2 }");
    CHECK_EQ(char_read({0xF0, 0x9F}), "UnexpectedEnd { additional: 2 }");
    CHECK_EQ(char_read({}), "UnexpectedEnd { additional: 1 }");
    // Bytes that cannot lead a sequence: continuations, overlong leads, beyond U+10FFFF.
    CHECK_EQ(char_read({0x80}), "InvalidCharEncoding([128, 0, 0, 0])");
    CHECK_EQ(char_read({0xBF, 0x80}), "InvalidCharEncoding([191, 0, 0, 0])");
    CHECK_EQ(char_read({0xC0, 0x80}), "InvalidCharEncoding([192, 0, 0, 0])");
    CHECK_EQ(char_read({0xC1, 0xBF}), "InvalidCharEncoding([193, 0, 0, 0])");
    CHECK_EQ(char_read({0xF5, 0x80, 0x80, 0x80}), "InvalidCharEncoding([245, 0, 0, 0])");
    CHECK_EQ(char_read({0xFF}), "InvalidCharEncoding([255, 0, 0, 0])");
    // Overlong three- and four-byte forms, surrogates, and U+110000.
    CHECK_EQ(char_read({0xE0, 0x80, 0x80}), "InvalidCharEncoding([224, 128, 128, 0])");
    CHECK_EQ(char_read({0xED, 0xA0, 0x80}), "InvalidCharEncoding([237, 160, 128, 0])");
    CHECK_EQ(char_read({0xF0, 0x80, 0x80, 0x80}), "InvalidCharEncoding([240, 128, 128, 128])");
    CHECK_EQ(char_read({0xF4, 0x90, 0x80, 0x80}), "InvalidCharEncoding([244, 144, 128, 128])");
    CHECK_EQ(char_read({0xE2, 0x82, 0x41}), "InvalidCharEncoding([226, 130, 65, 0])");
}

KELNOR_TEST(fixed_size_arrays_report_the_missing_bytes) {
    const auto uuid_read = [](const Bytes& input) {
        return outcome(input, [](Reader& reader) {
            std::array<std::uint8_t, 16> id{};
            return reader.read_bytes(id);
        });
    };
    CHECK_EQ(uuid_read(Bytes(16, 7)), "ok, 16 bytes");
    CHECK_EQ(uuid_read(Bytes(5, 7)), "UnexpectedEnd { additional: 11 }");
    CHECK_EQ(uuid_read({}), "UnexpectedEnd { additional: 16 }");
}

KELNOR_TEST(errors_render_as_documented) {
    CHECK_EQ(render(UnexpectedEnd{1}), "UnexpectedEnd { additional: 1 }");
    CHECK_EQ(render(InvalidIntegerType{IntegerType::U32, IntegerType::U64}),
             "InvalidIntegerType { expected: U32, found: U64 }");
    CHECK_EQ(render(UnexpectedVariant{"IdMode", {0, 1}, 2}),
             "UnexpectedVariant { type_name: \"IdMode\", allowed: Range { min: 0, max: 1 }, "
             "found: 2 }");
    CHECK_EQ(render(InvalidCharEncoding{{255, 0, 0, 0}}), "InvalidCharEncoding([255, 0, 0, 0])");
    CHECK_EQ(render(InvalidBooleanValue{2}), "InvalidBooleanValue(2)");
    CHECK_EQ(render(OutsideUsizeRange{std::uint64_t{1} << 32}), "OutsideUsizeRange(4294967296)");
}

}  // namespace
}  // namespace kelnor::core_test
