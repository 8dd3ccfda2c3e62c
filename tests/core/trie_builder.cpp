#include "trie_builder.hpp"

#include <map>
#include <memory>
#include <utility>

namespace kelnor::core_test {
namespace {

struct Node {
    char32_t label = 0;
    std::optional<PayloadLists> payload;
    std::vector<std::unique_ptr<Node>> children;  // in order of first appearance

    Node& child(char32_t wanted) {
        for (const auto& existing : children) {
            if (existing->label == wanted) return *existing;
        }
        children.push_back(std::make_unique<Node>());
        children.back()->label = wanted;
        return *children.back();
    }
};

void number_in_pre_order(const Node& node, std::vector<const Node*>& order) {
    order.push_back(&node);
    for (const auto& child : node.children) number_in_pre_order(*child, order);
}

void print_list(std::ostream& out, const std::vector<std::uint32_t>& values) {
    out << '[';
    for (std::size_t k = 0; k < values.size(); ++k) out << (k > 0 ? ", " : "") << values[k];
    out << ']';
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const PayloadLists& payload) {
    out << '(' << payload.total_count << ", ";
    print_list(out, payload.video_ids);
    out << ", ";
    print_list(out, payload.video_counts);
    return out << ')';
}

InternalData internal_data_of(const std::vector<TermEntry>& entries) {
    Node root;
    for (const TermEntry& entry : entries) {
        Node* node = &root;
        for (const char32_t character : entry.term) node = &node->child(character);
        node->payload = entry.payload;
    }
    std::vector<const Node*> order;
    number_in_pre_order(root, order);
    std::map<const Node*, std::uint32_t> number;
    for (std::size_t k = 0; k < order.size(); ++k) {
        number[order[k]] = static_cast<std::uint32_t>(k);
    }

    InternalData data;
    std::vector<std::optional<PayloadLists>> payloads;
    for (const Node* node : order) {
        data.node_shifts.push_back(static_cast<std::uint32_t>(data.child_transitions.size()));
        data.child_labels.push_back(node->label);
        payloads.push_back(node->payload);
        for (const auto& child : node->children)
            data.child_transitions.push_back(number[child.get()]);
    }
    data.payloads = payload_table(payloads);
    return data;
}

Trie built_trie(const std::vector<TermEntry>& entries, VideoTable videos, std::uint32_t top_n) {
    return assemble(internal_data_of(entries), std::move(videos), top_n);
}

PayloadTable payload_table(const std::vector<std::optional<PayloadLists>>& payloads) {
    PayloadTable table;
    for (const auto& payload : payloads) {
        if (payload) {
            table.push(payload->total_count, payload->video_ids, payload->video_counts);
        } else {
            table.push_absent();
        }
    }
    return table;
}

PayloadLists payload_of(const Trie& trie, std::size_t node) {
    const PayloadView view = trie.payloads.view(node);
    return {view.total_count,
            {view.video_ids.begin(), view.video_ids.end()},
            {view.video_counts.begin(), view.video_counts.end()}};
}

VideoTable int_videos(std::vector<std::uint32_t> ids) {
    VideoTable table;
    table.id_mode = IdMode::Int32;
    table.video_int_ids = std::move(ids);
    return table;
}

}  // namespace kelnor::core_test
