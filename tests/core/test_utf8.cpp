// The one UTF-8 codec against a bit-level model of the standard's table, and
// the edge cases each of its callers relies on: the image reader's errors
// (test_encoding.cpp), the query decoder's U+FFFD and bound, the matched
// text's replacement of non-scalar values and the first code point of a label.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "builds/internal_data.hpp"
#include "check.hpp"
#include "index/encoding/utf8.hpp"
#include "index/text/label_text.hpp"

namespace kelnor::core_test {
namespace {

using Chars = std::vector<char32_t>;

// What the standard's definition gives for the bytes: the lead's length and
// payload bits, then the value range, with no table of second-byte ranges.
Utf8Sequence modelled(std::span<const std::uint8_t> bytes) {
    const std::uint8_t lead = bytes[0];
    if (lead < 0x80) return {Utf8Status::Decoded, 1, lead};
    std::size_t length = 0;
    char32_t smallest = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, smallest = 0x80, value = lead & 0x1F;
    if (lead >= 0xE0 && lead <= 0xEF) length = 3, smallest = 0x800, value = lead & 0x0F;
    if (lead >= 0xF0 && lead <= 0xF4) length = 4, smallest = 0x10000, value = lead & 0x07;
    if (length == 0) return {Utf8Status::BadLead, 1, 0};
    if (bytes.size() < length) return {Utf8Status::Truncated, length, 0};
    bool continued = true;
    for (std::size_t k = 1; k < length; ++k) {
        continued = continued && (bytes[k] & 0xC0) == 0x80;
        value = (value << 6) | (bytes[k] & 0x3F);
    }
    if (!continued || value < smallest || !is_scalar_value(value)) {
        return {Utf8Status::IllFormed, length, 0};
    }
    return {Utf8Status::Decoded, length, value};
}

std::string shown(const Utf8Sequence& sequence) {
    return std::to_string(static_cast<int>(sequence.status)) + " " +
           std::to_string(sequence.length) + " " + show(sequence.code_point);
}

std::string encoded(char32_t code_point) {
    std::string text;
    encode_utf8(code_point, [&text](const auto& bytes) {
        text.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
    return text;
}

std::string appended(char32_t code_point) {
    std::string text;
    append_utf8(text, code_point);
    return text;
}

KELNOR_TEST(utf8_decoder_agrees_with_the_model_on_every_lead_and_second_byte) {
    // Later bytes that continue at either end of the range, or do not.
    constexpr std::array<std::uint8_t, 4> thirds{0x80, 0xBF, 0x41, 0xC0};
    constexpr std::array<std::uint8_t, 3> fourths{0x80, 0xBF, 0x41};
    std::size_t mismatches = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned second = 0; second < 256; ++second) {
            for (const std::uint8_t third : thirds) {
                for (const std::uint8_t fourth : fourths) {
                    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(lead),
                                                            static_cast<std::uint8_t>(second),
                                                            third, fourth};
                    for (std::size_t size = 1; size <= 4; ++size) {
                        const auto input = std::span(bytes).first(size);
                        const Utf8Sequence got = decode_utf8_sequence(input);
                        const Utf8Sequence want = modelled(input);
                        if (got.status == want.status && got.length == want.length &&
                            got.code_point == want.code_point) {
                            continue;
                        }
                        if (++mismatches <= 5) CHECK_EQ(shown(got), shown(want));
                    }
                }
            }
        }
    }
    CHECK_EQ(mismatches, std::size_t{0});
}

KELNOR_TEST(utf8_encoder_round_trips_every_scalar_and_writes_surrogates_as_they_are) {
    std::size_t mismatches = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const std::string text = encoded(c);
        const Utf8Sequence back = decode_utf8_sequence(utf8_bytes(text));
        const bool expected = is_scalar_value(c)
                                  ? back.status == Utf8Status::Decoded && back.code_point == c &&
                                        back.length == text.size()
                                  : back.status == Utf8Status::IllFormed && text.size() == 3;
        if (!expected && ++mismatches <= 5) CHECK_EQ(show(c), std::string("round trip"));
    }
    CHECK_EQ(mismatches, std::size_t{0});
    CHECK_EQ(encoded(0xD800), std::string("\xED\xA0\x80"));
    CHECK_EQ(encoded(0x110000), std::string("\xF4\x90\x80\x80"));
}

KELNOR_TEST(query_decoding_takes_one_replacement_per_byte_that_starts_nothing) {
    const auto decoded = [](std::string_view text) { return decode_utf8(text); };
    CHECK_EQ(decoded(std::string_view("a\0b", 3)), (Chars{U'a', 0, U'b'}));
    CHECK_EQ(decoded("\xC3\xA9\xF0\x9F\x98\x80"), (Chars{0xE9, 0x1F600}));
    CHECK_EQ(decoded("\xE0\x80\x80"), (Chars{0xFFFD, 0xFFFD, 0xFFFD}));              // overlong
    CHECK_EQ(decoded("\xED\xA0\x80x"), (Chars{0xFFFD, 0xFFFD, 0xFFFD, U'x'}));       // surrogate
    CHECK_EQ(decoded("\xF4\x90\x80\x80"), (Chars{0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));  // > U+10FFFF
    CHECK_EQ(decoded("\xE2\x82"), (Chars{0xFFFD, 0xFFFD}));                          // cut short
    CHECK_EQ(decoded("\xE2\x82\x41"), (Chars{0xFFFD, 0xFFFD, U'A'}));
    CHECK_EQ(decoded("\x80\xFF"), (Chars{0xFFFD, 0xFFFD}));
}

KELNOR_TEST(query_decoding_stops_after_the_bound) {
    CHECK_EQ(decode_utf8("h\xC3\xA9llo", 2), (Chars{U'h', 0xE9}));
    CHECK_EQ(decode_utf8("\xE0\x80\x80", 2), (Chars{0xFFFD, 0xFFFD}));
    CHECK_EQ(decode_utf8("abc", 0), Chars{});
    CHECK_EQ(decode_utf8("ab", 5), (Chars{U'a', U'b'}));
}

KELNOR_TEST(matched_text_replaces_values_that_are_not_scalar_values) {
    CHECK_EQ(appended(0), std::string(1, '\0'));
    CHECK_EQ(appended(0xD7FF), std::string("\xED\x9F\xBF"));
    CHECK_EQ(appended(0xD800), std::string("\xEF\xBF\xBD"));
    CHECK_EQ(appended(0xDFFF), std::string("\xEF\xBF\xBD"));
    CHECK_EQ(appended(0x10FFFF), std::string("\xF4\x8F\xBF\xBF"));
    CHECK_EQ(appended(0x110000), std::string("\xEF\xBF\xBD"));
    CHECK_EQ(appended(0xFFFFFFFF), std::string("\xEF\xBF\xBD"));
}

KELNOR_TEST(label_code_point_of_text_that_starts_ill_formed_is_the_replacement) {
    CHECK_EQ(label_code_point("\x80"
                              "abc"),
             char32_t{0xFFFD});
    CHECK_EQ(label_code_point("\xC3"), char32_t{0xFFFD});
}

}  // namespace
}  // namespace kelnor::core_test
