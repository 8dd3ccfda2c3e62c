// The build from the host's arrays: the shape checks, the labels, the choice
// of the video id form, and the documented example end to end.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "builds/internal_data.hpp"
#include "builds/video_index.hpp"
#include "check.hpp"
#include "trie_builder.hpp"

namespace kelnor::core_test {
namespace {

using Ids = std::vector<std::uint32_t>;

VideoIndexBytes video_index(const std::vector<std::vector<std::uint8_t>>& entries) {
    VideoIndexBytes index;
    for (const auto& entry : entries) {
        for (const std::uint8_t byte : entry) index.push_byte(byte);
        index.end_entry();
    }
    return index;
}

std::optional<std::string> shape(std::size_t shifts, std::size_t labels, std::size_t payloads,
                                 const Ids& transitions) {
    return check_shape(shifts, labels, payloads, transitions);
}

KELNOR_TEST(shape_checks_in_their_order) {
    CHECK_EQ(shape(0, 0, 0, {}), std::nullopt);
    CHECK_EQ(shape(3, 3, 3, {0, 1, 2}), std::nullopt);
    CHECK_EQ(shape(2, 3, 1, {}),
             std::optional<std::string>("node_shifts len 2 != child_labels len 3"));
    CHECK_EQ(shape(3, 3, 1, {7}),
             std::optional<std::string>("payloads len 1 != child_labels len 3"));
    CHECK_EQ(shape(3, 3, 3, {2, 3, 9}),
             std::optional<std::string>("child_transitions[1] = 3 out of range [0..3)"));
    CHECK_EQ(shape(0, 0, 0, {0}),
             std::optional<std::string>("child_transitions[0] = 0 out of range [0..0)"));
    CHECK_EQ(shape(1, 1, 1, {0, 4294967295u}),
             std::optional<std::string>("child_transitions[1] = 4294967295 out of range [0..1)"));
}

KELNOR_TEST(labels_keep_their_first_code_point) {
    CHECK_EQ(label_code_point(""), char32_t{0});
    CHECK_EQ(label_code_point("abc"), U'a');
    CHECK_EQ(label_code_point("\xC3\xA9t\xC3\xA9"), U'\u00E9');
    CHECK_EQ(label_code_point("\xE2\x82\xAC"), U'\u20AC');
    CHECK_EQ(label_code_point("\xF0\x9F\x98\x80!"), U'\U0001F600');
    CHECK_EQ(label_code_point(std::string_view("\0x", 2)), char32_t{0});
}

KELNOR_TEST(video_id_forms) {
    const auto table = [](const std::vector<std::vector<std::uint8_t>>& entries) {
        return choose_video_ids(video_index(entries));
    };
    const std::string refused =
        "video_index entries must be all 16 bytes (UUID) or all 4 bytes (int32)";

    auto none = table({});
    CHECK(none.ok() && none.value().id_mode == IdMode::Uuid);
    CHECK(none.value().video_uuids.empty() && none.value().video_int_ids.empty());

    std::vector<std::uint8_t> uuid(16);
    for (std::size_t k = 0; k < uuid.size(); ++k) uuid[k] = static_cast<std::uint8_t>(k);
    auto uuids = table({uuid, std::vector<std::uint8_t>(16, 0xFF)});
    CHECK(uuids.ok() && uuids.value().id_mode == IdMode::Uuid);
    CHECK_EQ(uuids.value().video_uuids.size(), std::size_t{2});
    CHECK_EQ(uuids.value().video_uuids[0][15], std::uint8_t{15});
    CHECK(uuids.value().video_int_ids.empty());

    auto ints = table({{0x01, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0x07, 0x00, 0x00, 0x80}});
    CHECK(ints.ok() && ints.value().id_mode == IdMode::Int32);
    CHECK_EQ(ints.value().video_int_ids, (Ids{1, 4294967295u, 0x80000007u}));
    CHECK(ints.value().video_uuids.empty());

    for (const auto& mixed : std::vector<std::vector<std::vector<std::uint8_t>>>{
             {uuid, {1, 0, 0, 0}},
             {{1, 0, 0, 0}, uuid},
             {{}},
             {std::vector<std::uint8_t>(8)},
             {std::vector<std::uint8_t>(15)},
             {uuid, std::vector<std::uint8_t>(17)}}) {
        auto result = table(mixed);
        CHECK(!result.ok() && result.error() == refused);
    }
}

// Two terms, ab (video 0, count 5, total 5) and ac (videos 1 and 0 with
// counts 2 and 1, total 3), with the integer ids 7 and 9.
KELNOR_TEST(the_documented_build_example) {
    InternalData data;
    data.node_shifts = {0, 1, 3, 3};
    data.child_labels = {0, U'a', U'b', U'c'};
    data.child_transitions = {1, 2, 3};
    data.payloads = payload_table(
        {std::nullopt, std::nullopt, PayloadLists{5, {0}, {5}}, PayloadLists{3, {1, 0}, {2, 1}}});
    auto videos = choose_video_ids(video_index({{7, 0, 0, 0}, {9, 0, 0, 0}}));
    CHECK(videos.ok());
    const Trie trie = assemble(std::move(data), std::move(videos).value(), 10);

    CHECK_EQ(trie.is_terminal, (std::vector<std::uint8_t>{0, 0, 1, 1}));
    CHECK(trie.id_mode == IdMode::Int32);
    CHECK_EQ(trie.video_int_ids, (Ids{7, 9}));
    CHECK_EQ(payload_of(trie, 3), (PayloadLists{3, {1, 0}, {2, 1}}));
    CHECK_EQ(payload_of(trie, 2), (PayloadLists{5, {0}, {5}}));
    CHECK_EQ(payload_of(trie, 1), (PayloadLists{8, {0, 1}, {6, 2}}));
    CHECK_EQ(payload_of(trie, 0), (PayloadLists{8, {0, 1}, {6, 2}}));
}

KELNOR_TEST(an_empty_build_has_no_nodes) {
    const Trie trie = assemble(InternalData{}, int_videos({}), 10);
    CHECK_EQ(trie.payloads.size(), std::size_t{0});
    CHECK(trie.is_terminal.empty());
    CHECK(trie.id_mode == IdMode::Int32);
}

}  // namespace
}  // namespace kelnor::core_test
