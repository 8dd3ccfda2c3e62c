#include "path_count.hpp"

#include <algorithm>
#include <vector>

namespace kelnor::fuzz {

bool more_paths_than(const Trie& trie, std::size_t depth, std::uint64_t most) {
    const std::size_t node_count = std::min(trie.node_shifts.size(), trie.child_labels.size());
    if (node_count == 0) return false;
    // By node: the paths of the current length that end there. Every count
    // is added to `paths` too, so none exceeds `most` before the answer.
    std::vector<std::uint64_t> ending(node_count, 0);
    std::vector<std::uint64_t> longer(node_count, 0);
    ending[0] = 1;
    std::uint64_t paths = 0;
    for (std::size_t length = 1; length <= depth; ++length) {
        std::fill(longer.begin(), longer.end(), 0);
        for (std::size_t node = 0; node < node_count; ++node) {
            if (ending[node] == 0) continue;
            const ChildRange children = child_range(trie, node);
            const std::size_t end = std::min(children.end, trie.child_transitions.size());
            for (std::size_t position = children.begin; position < end; ++position) {
                const std::uint32_t child = trie.child_transitions[position];
                if (child >= node_count || trie.child_labels[child] == 0) continue;
                longer[child] += ending[node];
                paths += ending[node];
                if (paths > most) return true;
            }
        }
        ending.swap(longer);
    }
    return false;
}

}  // namespace kelnor::fuzz
