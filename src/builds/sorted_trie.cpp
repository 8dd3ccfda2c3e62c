#include "builds/sorted_trie.hpp"

#include <algorithm>
#include <vector>

#include "index/encoding/utf8.hpp"

namespace kelnor::columns {
namespace {

// Bytes that two texts share at their start, backed off to a character boundary.
std::size_t shared_prefix_bytes(std::string_view a, std::string_view b) {
    const std::size_t most = std::min(a.size(), b.size());
    std::size_t shared = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(most), b.begin()).first -
        a.begin());
    while (shared > 0 && shared < most && (static_cast<unsigned char>(b[shared]) & 0xC0) == 0x80) {
        --shared;
    }
    return shared;
}

}  // namespace

InternalData lay_out_sorted_terms(
    std::span<const std::string_view> sorted_terms,
    const std::function<void(std::size_t, PayloadTable&)>& push_payload) {
    InternalData data;
    std::vector<std::uint32_t> parents{0};
    data.child_labels.push_back(0);
    data.payloads.push_absent();

    struct Step {
        std::uint32_t node;
        std::size_t end;  // the byte after the node's label in the term
    };
    std::vector<Step> path{{0, 0}};
    std::string_view previous;
    for (std::size_t k = 0; k < sorted_terms.size(); ++k) {
        const std::string_view term = sorted_terms[k];
        const std::size_t shared = shared_prefix_bytes(previous, term);
        while (path.back().end > shared) path.pop_back();
        std::size_t at = path.back().end;
        while (at < term.size()) {
            const Utf8Char next = decode_utf8_or_replacement(utf8_bytes(term.substr(at)));
            at += next.length;
            const auto node = static_cast<std::uint32_t>(parents.size());
            parents.push_back(path.back().node);
            data.child_labels.push_back(next.code_point);
            if (at < term.size()) data.payloads.push_absent();
            path.push_back({node, at});
        }
        push_payload(k, data.payloads);
        previous = term;
    }

    // Children were made in ascending node order, so each node's run of
    // child_transitions is its children in the order they were made.
    const std::size_t node_count = parents.size();
    std::vector<std::uint32_t> child_counts(node_count, 0);
    for (std::size_t node = 1; node < node_count; ++node) ++child_counts[parents[node]];
    data.node_shifts.resize(node_count);
    std::uint32_t start = 0;
    for (std::size_t node = 0; node < node_count; ++node) {
        data.node_shifts[node] = start;
        start += child_counts[node];
    }
    data.child_transitions.resize(node_count - 1);
    std::vector<std::uint32_t> next_slot(data.node_shifts);
    for (std::size_t node = 1; node < node_count; ++node) {
        data.child_transitions[next_slot[parents[node]]++] = static_cast<std::uint32_t>(node);
    }
    return data;
}

}  // namespace kelnor::columns
