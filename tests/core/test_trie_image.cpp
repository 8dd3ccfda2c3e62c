// The index image: the documented images, every decode failure by field, and
// counts that promise more than the input holds.
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "check.hpp"
#include "index/trie/trie_image.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The two-node index of the documented example: root, and one child labelled
// é; both carry (300, [0], [300]); one UUID 00 01 ... 0f.
Trie worked_example() {
    Trie trie;
    trie.node_shifts = {0, 1};
    trie.child_labels = {0, U'\u00E9'};
    trie.child_transitions = {1};
    trie.payloads = payload_table({PayloadLists{300, {0}, {300}}, PayloadLists{300, {0}, {300}}});
    VideoUuid id{};
    for (std::size_t k = 0; k < id.size(); ++k) id[k] = static_cast<std::uint8_t>(k);
    trie.video_uuids = {id};
    trie.is_terminal = {0, 1};
    return trie;
}

const Bytes WORKED_EXAMPLE_IMAGE = {
    0x02, 0x00, 0x01,                                                  // node_shifts
    0x02, 0x00, 0xC3, 0xA9,                                            // child_labels
    0x01, 0x01,                                                        // child_transitions
    0x02, 0x01, 0xFB, 0x2C, 0x01, 0x01, 0x00, 0x01, 0xFB, 0x2C, 0x01,  // payloads
    0x01, 0xFB, 0x2C, 0x01, 0x01, 0x00, 0x01, 0xFB, 0x2C, 0x01,        //
    0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,        // video_uuids
    0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,                          //
    0x00,                                                              // video_int_ids
    0x00,                                                              // id_mode
    0x02, 0x00, 0x01,                                                  // is_terminal
};

// The rendered decode error of `image`, or "ok" when it decodes.
std::string decoded(const Bytes& image) {
    Result<Trie, DecodeError> result = decode_trie(image);
    return result.ok() ? "ok" : render(result.error());
}

Bytes with_byte(Bytes image, std::size_t position, std::uint8_t value) {
    image.at(position) = value;
    return image;
}

Bytes concatenated(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes COUNT_U32_MAX = {0xFC, 0xFF, 0xFF, 0xFF, 0xFF};

KELNOR_TEST(empty_index_images) {
    CHECK_EQ(encode_trie(Trie{}), Bytes(8, 0));
    Trie int_mode;
    int_mode.id_mode = IdMode::Int32;
    CHECK_EQ(encode_trie(int_mode), (Bytes{0, 0, 0, 0, 0, 0, 1, 0}));

    Result<Trie, DecodeError> empty = decode_trie(Bytes(8, 0));
    CHECK(empty.ok());
    CHECK_EQ(empty.value().node_shifts.size(), std::size_t{0});
    CHECK_EQ(empty.value().payloads.size(), std::size_t{0});
    CHECK(empty.value().id_mode == IdMode::Uuid);
    CHECK_EQ(encode_trie(empty.value()), Bytes(8, 0));
}

KELNOR_TEST(worked_example_encodes_and_decodes) {
    CHECK_EQ(WORKED_EXAMPLE_IMAGE.size(), std::size_t{52});
    CHECK_EQ(encode_trie(worked_example()), WORKED_EXAMPLE_IMAGE);
    Result<Trie, DecodeError> result = decode_trie(WORKED_EXAMPLE_IMAGE);
    CHECK(result.ok());
    const Trie& trie = result.value();
    CHECK_EQ(trie.child_labels, (std::vector<char32_t>{0, U'\u00E9'}));
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{300, {0}, {300}}));
    CHECK_EQ(trie.is_terminal, (std::vector<std::uint8_t>{0, 1}));
    CHECK_EQ(encode_trie(trie), WORKED_EXAMPLE_IMAGE);
}

KELNOR_TEST(trailing_bytes_are_ignored) {
    for (const Bytes& tail : {Bytes{0x00}, Bytes{0xFF, 0xFF}, Bytes(100, 0xAB)}) {
        Result<Trie, DecodeError> result = decode_trie(concatenated({WORKED_EXAMPLE_IMAGE, tail}));
        CHECK(result.ok());
        CHECK_EQ(encode_trie(result.value()), WORKED_EXAMPLE_IMAGE);
    }
}

KELNOR_TEST(damaged_bytes_of_the_worked_example) {
    CHECK_EQ(decoded(with_byte(WORKED_EXAMPLE_IMAGE, 48, 0x02)),
             "UnexpectedVariant { type_name: \"IdMode\", allowed: Range { min: 0, max: 1 }, "
             "found: 2 }");
    CHECK_EQ(decoded(with_byte(WORKED_EXAMPLE_IMAGE, 10, 0x02)),
             "UnexpectedVariant { type_name: \"core::option::Option<kelnor::payload::Payload>\", "
             "allowed: Range { min: 0, max: 1 }, found: 2 }");
    CHECK_EQ(decoded(with_byte(WORKED_EXAMPLE_IMAGE, 50, 0x02)), "InvalidBooleanValue(2)");
    CHECK_EQ(decoded(Bytes(WORKED_EXAMPLE_IMAGE.begin(), WORKED_EXAMPLE_IMAGE.begin() + 20)),
             "UnexpectedEnd { additional: 1 }");
    CHECK_EQ(decoded(with_byte(WORKED_EXAMPLE_IMAGE, 6, 0xC3)),
             "InvalidCharEncoding([195, 195, 0, 0])");
    CHECK_EQ(decoded(with_byte(WORKED_EXAMPLE_IMAGE, 1, 0xFD)),
             "InvalidIntegerType { expected: U32, found: U64 }");
    CHECK_EQ(decoded(with_byte(WORKED_EXAMPLE_IMAGE, 0, 0xFE)),
             "InvalidIntegerType { expected: U64, found: U128 }");
    CHECK_EQ(decoded({}), "UnexpectedEnd { additional: 1 }");
}

KELNOR_TEST(every_prefix_of_an_image_fails_and_the_whole_decodes) {
    for (std::size_t length = 0; length < WORKED_EXAMPLE_IMAGE.size(); ++length) {
        const std::string outcome =
            decoded(Bytes(WORKED_EXAMPLE_IMAGE.begin(), WORKED_EXAMPLE_IMAGE.begin() + length));
        CHECK(outcome.starts_with("UnexpectedEnd { additional: "));
    }
    CHECK_EQ(decoded(WORKED_EXAMPLE_IMAGE), "ok");
}

KELNOR_TEST(longer_integer_forms_decode_and_reencode_shorter) {
    // node_shifts [0, 1] with the 1 in its three-byte form.
    const Bytes longer =
        concatenated({{0x02, 0x00, 0xFB, 0x01, 0x00},
                      Bytes(WORKED_EXAMPLE_IMAGE.begin() + 3, WORKED_EXAMPLE_IMAGE.end())});
    Result<Trie, DecodeError> result = decode_trie(longer);
    CHECK(result.ok());
    CHECK_EQ(encode_trie(result.value()), WORKED_EXAMPLE_IMAGE);
}

KELNOR_TEST(relations_between_arrays_are_not_checked_when_decoding) {
    // Three node_shifts, no labels, transitions past every node, absent
    // payloads, unequal payload lists, a table of the inactive mode.
    const Bytes image = {
        0x03, 0x00, 0x09, 0x02,                          // node_shifts [0, 9, 2]
        0x00,                                            // child_labels []
        0x02, 0xFC, 0xFF, 0xFF, 0xFF, 0xFF,              // child_transitions [4294967295,
        0x07,                                            //                    7]
        0x02, 0x00, 0x01, 0x05, 0x02, 0x01, 0x02, 0x00,  // payloads [None, (5, [1, 2], [])]
        0x00,                                            // video_uuids []
        0x01, 0x09,                                      // video_int_ids [9]
        0x00,                                            // id_mode Uuid
        0x01, 0x01,                                      // is_terminal [true]
    };
    Result<Trie, DecodeError> result = decode_trie(image);
    CHECK(result.ok());
    const Trie& trie = result.value();
    CHECK_EQ(trie.node_shifts, (std::vector<std::uint32_t>{0, 9, 2}));
    CHECK_EQ(trie.child_transitions, (std::vector<std::uint32_t>{4294967295u, 7}));
    CHECK(!trie.payloads.present(0));
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{5, {1, 2}, {}}));
    CHECK_EQ(encode_trie(trie), image);
}

// A count of 2^32 - 1 in each field in turn, with the fields before it empty:
// the decode runs out of input at the first element instead of reserving room
// for the count (which a 32-bit process could not even address).
KELNOR_TEST(huge_counts_fail_at_the_first_missing_element) {
    for (std::size_t field = 0; field < 8; ++field) {
        if (field == 6) continue;  // id_mode is not a sequence
        Bytes image;
        for (std::size_t before = 0; before < field; ++before) image.push_back(0x00);
        image.insert(image.end(), COUNT_U32_MAX.begin(), COUNT_U32_MAX.end());
        const std::string expected =
            field == 4 ? "UnexpectedEnd { additional: 16 }" : "UnexpectedEnd { additional: 1 }";
        CHECK_EQ(decoded(image), expected);
        image.push_back(0x01);
        CHECK(decoded(image).starts_with("UnexpectedEnd"));
    }
}

KELNOR_TEST(huge_payload_list_counts_fail_at_the_first_missing_element) {
    const Bytes ids = concatenated({{0, 0, 0, 0x01, 0x01, 0x07}, COUNT_U32_MAX, {0x03}});
    CHECK_EQ(decoded(ids), "UnexpectedEnd { additional: 1 }");
    const Bytes counts = concatenated({{0, 0, 0, 0x01, 0x01, 0x07, 0x00}, COUNT_U32_MAX});
    CHECK_EQ(decoded(counts), "UnexpectedEnd { additional: 1 }");
}

KELNOR_TEST(counts_beyond_32_bits_are_refused) {
    const Bytes image = {0xFD, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    CHECK_EQ(decoded(image), "OutsideUsizeRange(4294967296)");
    CHECK_EQ(decoded(concatenated({{0x00, 0x00, 0x00, 0x01, 0x01, 0x00}, image})),
             "OutsideUsizeRange(4294967296)");
}

KELNOR_TEST(extreme_values_survive_the_round_trip) {
    Trie trie;
    const std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
    trie.node_shifts = {max, 0, 250, 251, 65535, 65536};
    trie.child_labels = {0, U'\x7F', U'\u0080', U'\uFFFF', U'\U00010000', U'\U0010FFFF'};
    trie.child_transitions = {max};
    trie.payloads = payload_table({PayloadLists{max, {max}, {max}}, std::nullopt});
    trie.video_int_ids = {max, 0};
    trie.id_mode = IdMode::Int32;
    trie.is_terminal = {1, 0, 1};
    const Bytes image = encode_trie(trie);
    Result<Trie, DecodeError> result = decode_trie(image);
    CHECK(result.ok());
    CHECK_EQ(result.value().node_shifts, trie.node_shifts);
    CHECK_EQ(result.value().child_labels, trie.child_labels);
    CHECK_EQ(payload_of(result.value(), 0), (PayloadLists{max, {max}, {max}}));
    CHECK_EQ(result.value().video_int_ids, trie.video_int_ids);
    CHECK_EQ(encode_trie(result.value()), image);
}

// The caller's buffer must have the measured size: a short one is never
// written past, a long one is not left partly unwritten.
KELNOR_TEST(encoding_into_a_buffer_checks_its_size) {
    const Trie trie = worked_example();
    CHECK_EQ(image_size(trie), WORKED_EXAMPLE_IMAGE.size());
    Bytes exact(WORKED_EXAMPLE_IMAGE.size());
    encode_trie_into(trie, exact);
    CHECK_EQ(exact, WORKED_EXAMPLE_IMAGE);

    Bytes guarded(WORKED_EXAMPLE_IMAGE.size() + 1, 0xAB);
    CHECK_INTERNAL_FAILURE(encode_trie_into(trie, std::span(guarded).first(51)),
                           "encoding wrote 52 bytes into a buffer measured at 51");
    CHECK_EQ(guarded.at(51), std::uint8_t{0xAB});
    CHECK_INTERNAL_FAILURE(encode_trie_into(trie, guarded),
                           "encoding wrote 52 bytes into a buffer measured at 53");
}

}  // namespace
}  // namespace kelnor::core_test
