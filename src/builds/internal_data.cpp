#include "builds/internal_data.hpp"

#include <utility>

#include "index/encoding/utf8.hpp"
#include "index/trie/propagate.hpp"
#include "index/trie/walk_index.hpp"

namespace kelnor {

std::optional<std::string> check_shape(std::size_t node_shift_count, std::size_t label_count,
                                       std::size_t payload_count,
                                       std::span<const std::uint32_t> child_transitions) {
    const std::string nodes = std::to_string(label_count);
    if (node_shift_count != label_count) {
        return "node_shifts len " + std::to_string(node_shift_count) + " != child_labels len " +
               nodes;
    }
    if (payload_count != label_count) {
        return "payloads len " + std::to_string(payload_count) + " != child_labels len " + nodes;
    }
    for (std::size_t position = 0; position < child_transitions.size(); ++position) {
        const std::uint32_t child = child_transitions[position];
        if (child >= label_count) {
            return "child_transitions[" + std::to_string(position) +
                   "] = " + std::to_string(child) + " out of range [0.." + nodes + ")";
        }
    }
    return std::nullopt;
}

char32_t label_code_point(std::string_view utf8) {
    if (utf8.empty()) return 0;
    return decode_utf8_or_replacement(utf8_bytes(utf8)).code_point;
}

Trie assemble(InternalData data, VideoTable videos, std::uint32_t top_n) {
    Trie trie;
    trie.is_terminal.resize(data.payloads.size());
    for (std::size_t node = 0; node < trie.is_terminal.size(); ++node) {
        trie.is_terminal[node] = data.payloads.present(node) ? 1 : 0;
    }
    trie.node_shifts = std::move(data.node_shifts);
    trie.child_labels = std::move(data.child_labels);
    trie.child_transitions = std::move(data.child_transitions);
    trie.payloads = std::move(data.payloads);
    trie.video_uuids = std::move(videos.video_uuids);
    trie.video_int_ids = std::move(videos.video_int_ids);
    trie.id_mode = videos.id_mode;
    propagate(trie, top_n);
    trie.walk_index = walk_index_of(trie);
    trie.term_counts = data.own_counts.size() == trie.node_shifts.size() && takes_exact_counts(trie)
                           ? term_counts_of(trie, data.own_counts)
                           : term_counts_of(trie);
    return trie;
}

}  // namespace kelnor
