#include "walk_budget.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace kelnor::fuzz {
namespace {

// The widest bound that the matchers apply, whatever max_dist says.
constexpr std::uint64_t kWidestBound = 65535;

struct Paths {
    std::uint32_t node;
    std::uint64_t count;  // paths of the current length from the root to `node`
};

}  // namespace

bool walk_fits_budget(const Trie& trie, std::size_t query_length, std::uint32_t max_dist,
                      std::uint64_t budget) {
    const std::size_t node_count = trie.node_shifts.size();
    if (node_count == 0) return true;
    const std::vector<std::uint32_t>& transitions = trie.child_transitions;
    const std::uint64_t deepest =
        query_length + std::min<std::uint64_t>(max_dist, kWidestBound) + 1;

    std::vector<std::uint64_t> pending(node_count, 0);
    std::vector<Paths> frontier{{0, 1}};
    std::vector<Paths> next;
    std::uint64_t cost = 0;
    for (std::uint64_t depth = 1; depth <= deepest && !frontier.empty(); ++depth) {
        next.clear();
        for (const Paths& paths : frontier) {
            const ChildRange range = child_range(trie, paths.node);
            const std::size_t end = std::min(range.end, transitions.size());
            for (std::size_t position = range.begin; position < end; ++position) {
                const std::uint32_t child = transitions[position];
                const std::uint64_t payload =
                    child < trie.payloads.size() ? trie.payloads.view(child).video_ids.size() : 0;
                cost += paths.count * (query_length + 1 + depth + payload);
                if (cost > budget) return false;
                if (child >= node_count || child >= trie.child_labels.size() ||
                    trie.child_labels[child] == 0) {
                    continue;
                }
                if (pending[child] == 0) next.push_back({child, 0});
                pending[child] += paths.count;
            }
        }
        for (Paths& paths : next) paths.count = std::exchange(pending[paths.node], 0);
        std::swap(frontier, next);
    }
    return true;
}

}  // namespace kelnor::fuzz
