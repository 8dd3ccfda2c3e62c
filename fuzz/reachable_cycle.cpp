#include "reachable_cycle.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kelnor::fuzz {

bool has_reachable_cycle(const Trie& trie) {
    const std::size_t node_count = std::min(trie.node_shifts.size(), trie.child_labels.size());
    if (node_count == 0) return false;
    enum class State : std::uint8_t { Unseen, OnPath, Done };
    std::vector<State> states(node_count, State::Unseen);
    // The path from the root: each node with the next of its child positions.
    std::vector<std::pair<std::uint32_t, std::size_t>> path{{0, child_range(trie, 0).begin}};
    states[0] = State::OnPath;
    while (!path.empty()) {
        auto& [node, position] = path.back();
        const std::size_t end =
            std::min(child_range(trie, node).end, trie.child_transitions.size());
        if (position >= end) {
            states[node] = State::Done;
            path.pop_back();
            continue;
        }
        const std::uint32_t child = trie.child_transitions[position++];
        if (child >= node_count || trie.child_labels[child] == 0) continue;
        if (states[child] == State::OnPath) return true;
        if (states[child] == State::Unseen) {
            states[child] = State::OnPath;
            path.emplace_back(child, child_range(trie, child).begin);
        }
    }
    return false;
}

}  // namespace kelnor::fuzz
