// Fuzz target: an index built from arbitrary host arrays by the core's build
// steps (the shape checks, the choice of the video id form, assembly and
// propagation), then queried and re-encoded.
//
// Input, after the query parameters (every_query.hpp), all values taken by
// FuzzInput (a 32-bit value is one byte, see take_u32):
//   video_top_n: a 32-bit value;
//   N: one byte, modulo 48;
//   node_shifts: N 32-bit values;
//   child_labels: N bytes, each picking a label from LABELS;
//   payloads: N flag bytes, each followed, when its bit 0 is set, by the
//     total count (32-bit), then (flag >> 1) % 8 video positions (one byte
//     each, modulo 10, so some lie outside the table) and as many counts;
//   child_transitions: a count byte (modulo 64), then one byte per entry,
//     modulo N + 1 (N itself is out of range);
//   video_index: an entry count byte (modulo 8) and a form byte: 0 all
//     entries of 16 bytes, 1 all of 4, 2 each of (next byte % 20) bytes;
//     then the entries' bytes.
// A build that the checks refuse ends the input; a child range running past
// child_transitions ends it with InternalFailure, as documented. A built
// index keeps the invariants the queries rely on, so there a query's
// InternalFailure is a finding, as is a payload that propagation left absent,
// uneven or longer than video_top_n.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"
#include "builds/internal_data.hpp"
#include "builds/video_index.hpp"
#include "every_query.hpp"
#include "fuzz_input.hpp"
#include "index/trie/trie_image.hpp"

namespace {

using kelnor::fuzz::FuzzInput;

constexpr std::size_t MOST_NODES = 48;
constexpr std::size_t MOST_TRANSITIONS = 64;
constexpr std::size_t MOST_VIDEOS = 8;
constexpr char32_t LABELS[] = {0,         U'a',      U'b',          U'c',
                               U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'};

kelnor::PayloadTable take_payloads(FuzzInput& input, std::size_t node_count) {
    kelnor::PayloadTable payloads;
    std::vector<std::uint32_t> video_ids;
    std::vector<std::uint32_t> video_counts;
    for (std::size_t node = 0; node < node_count; ++node) {
        const std::uint8_t flag = input.take_byte();
        if ((flag & 1) == 0) {
            payloads.push_absent();
            continue;
        }
        const std::uint32_t total_count = input.take_u32();
        const std::size_t videos = (flag >> 1) % 8;
        video_ids.clear();
        video_counts.clear();
        for (std::size_t k = 0; k < videos; ++k) video_ids.push_back(input.take_byte() % 10);
        for (std::size_t k = 0; k < videos; ++k) video_counts.push_back(input.take_u32());
        payloads.push(total_count, video_ids, video_counts);
    }
    return payloads;
}

kelnor::VideoIndexBytes take_video_index(FuzzInput& input) {
    kelnor::VideoIndexBytes index;
    const std::size_t entries = input.take_byte() % MOST_VIDEOS;
    const std::uint8_t form = input.take_byte() % 3;
    for (std::size_t k = 0; k < entries; ++k) {
        const std::size_t length = form == 0 ? 16 : form == 1 ? 4 : input.take_byte() % 20;
        for (std::size_t b = 0; b < length; ++b) index.push_byte(input.take_byte());
        index.end_entry();
    }
    return index;
}

void check_propagated(const kelnor::Trie& trie, const kelnor::PayloadTable& given,
                      std::uint32_t top_n) {
    if (trie.payloads.size() != given.size() || trie.is_terminal.size() != given.size()) {
        kelnor::fuzz::finding("the build changed the node count");
    }
    for (std::size_t node = 0; node < given.size(); ++node) {
        if (!trie.payloads.present(node))
            kelnor::fuzz::finding("an absent payload after propagation");
        const kelnor::PayloadView payload = trie.payloads.view(node);
        if (payload.video_ids.size() != payload.video_counts.size() ||
            payload.video_ids.size() > top_n) {
            kelnor::fuzz::finding("a payload uneven or longer than video_top_n");
        }
        if ((trie.is_terminal[node] != 0) != given.present(node)) {
            kelnor::fuzz::finding("is_terminal does not mark the given payloads");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelnor;
    FuzzInput input(std::span<const std::uint8_t>(data, size));
    const fuzz::QueryParameters query = fuzz::take_query_parameters(input);

    const std::uint32_t top_n = input.take_u32();
    const std::size_t node_count = input.take_byte() % MOST_NODES;
    InternalData arrays;
    for (std::size_t node = 0; node < node_count; ++node)
        arrays.node_shifts.push_back(input.take_u32());
    for (std::size_t node = 0; node < node_count; ++node) {
        arrays.child_labels.push_back(LABELS[input.take_byte() % std::size(LABELS)]);
    }
    arrays.payloads = take_payloads(input, node_count);
    const std::size_t transition_count = input.take_byte() % MOST_TRANSITIONS;
    for (std::size_t k = 0; k < transition_count; ++k) {
        arrays.child_transitions.push_back(input.take_byte() % (node_count + 1));
    }
    const VideoIndexBytes video_index = take_video_index(input);

    if (check_shape(arrays.node_shifts.size(), arrays.child_labels.size(), arrays.payloads.size(),
                    arrays.child_transitions)) {
        return 0;
    }
    Result<VideoTable, std::string> videos = choose_video_ids(video_index);
    if (!videos.ok()) return 0;
    const PayloadTable given = arrays.payloads;
    std::optional<Trie> built;
    try {
        built = assemble(std::move(arrays), std::move(videos).value(), top_n);
    } catch (const InternalFailure&) {
        return 0;
    }
    check_propagated(*built, given, top_n);
    fuzz::run_every_query(*built, query, fuzz::Damage::Impossible);

    const std::vector<std::uint8_t> image = encode_trie(*built);
    Result<Trie, DecodeError> decoded = decode_trie(image);
    if (!decoded.ok() || encode_trie(decoded.value()) != image) {
        fuzz::finding("the image of a built index does not round-trip");
    }
    return 0;
}
