#include "index/trie/term_counts.hpp"

#include <algorithm>

#include "base/internal_failure.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {
namespace {

// Whether every read below stays inside the arrays.
bool counts_derivable(const Trie& trie) {
    const std::size_t node_count = trie.node_shifts.size();
    return trie.walk_index.sound && trie.payloads.size() == node_count &&
           trie.is_terminal.size() == node_count;
}

// The payload total less the children's totals, summed in 64 bits so that
// saturated totals cannot wrap. A node listed as its own child gave nothing
// up to itself.
template <class TotalOf>
std::uint32_t own_count_of(const Trie& trie, std::uint32_t node, TotalOf&& total_of) {
    const std::uint64_t total = total_of(node);
    std::uint64_t passed_up = 0;
    const ChildRange children = child_range(trie, node);
    for (std::size_t position = children.begin; position < children.end; ++position) {
        const std::uint32_t child = checked_at(trie.child_transitions, position);
        if (child != node) passed_up += total_of(child);
    }
    return static_cast<std::uint32_t>(total > passed_up ? total - passed_up : 0);
}

// The own count of `node`, read from the trie's arrays with bounds checks.
std::uint32_t checked_own_count(const Trie& trie, std::uint32_t node) {
    return own_count_of(trie, node, [&trie](std::uint32_t at) {
        if (at >= trie.payloads.size()) fail_index_out_of_bounds(trie.payloads.size(), at);
        return trie.payloads.view(at).total_count;
    });
}

}  // namespace

std::uint32_t TermCounts::own(const Trie& trie, std::uint32_t node) const {
    return nodes.empty() ? checked_own_count(trie, node) : nodes[node].own;
}

TermCounts term_counts_of(const Trie& trie) {
    TermCounts counts;
    if (!counts_derivable(trie)) return counts;
    const std::size_t node_count = trie.node_shifts.size();
    std::vector<std::uint32_t> totals(node_count);
    for (std::size_t node = 0; node < node_count; ++node) {
        totals[node] = trie.payloads.view(node).total_count;
    }
    counts.nodes.resize(node_count);
    // One pass from the last node up: a child numbered above its parent is
    // complete when the parent reads it.
    for (std::size_t node = node_count; node-- > 0;) {
        const auto at = static_cast<std::uint32_t>(node);
        const std::uint32_t own =
            own_count_of(trie, at, [&totals](std::uint32_t child) { return totals[child]; });
        std::uint32_t best = trie.is_terminal[node] ? own : 0;
        const ChildRange children = child_range(trie, node);
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::uint32_t child = trie.child_transitions[position];
            if (trie.child_labels[child] == 0) continue;
            best =
                std::max(best, child > node ? counts.nodes[child].best_below : UNKNOWN_BEST_BELOW);
        }
        counts.nodes[node] = {own, best};
    }
    return counts;
}

}  // namespace kelnor
