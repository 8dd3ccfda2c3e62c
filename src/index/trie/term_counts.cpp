#include "index/trie/term_counts.hpp"

#include <algorithm>

#include "base/internal_failure.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {
namespace {

// The payload total less the children's totals, summed in 64 bits so that
// saturated totals cannot wrap. A node listed as its own child gave nothing
// up to itself.
template <class TotalOf>
TermCount own_count_of(const Trie& trie, std::uint32_t node, TotalOf&& total_of) {
    const std::uint64_t total = total_of(node);
    std::uint64_t passed_up = 0;
    const ChildRange children = child_range(trie, node);
    for (std::size_t position = children.begin; position < children.end; ++position) {
        const std::uint32_t child = checked_at(trie.child_transitions, position);
        if (child != node) passed_up += total_of(child);
    }
    return total > passed_up ? total - passed_up : 0;
}

// The own count of `node`, read from the trie's arrays with bounds checks.
TermCount checked_own_count(const Trie& trie, std::uint32_t node) {
    return own_count_of(trie, node, [&trie](std::uint32_t at) {
        if (at >= trie.payloads.size()) fail_index_out_of_bounds(trie.payloads.size(), at);
        return trie.payloads.view(at).total_count;
    });
}

// Every node's counts, from `own_of(node)` for its own count, in one pass
// from the last node up: a child numbered above its parent is complete when
// the parent reads it.
template <class OwnOf>
TermCounts counts_from(const Trie& trie, OwnOf&& own_of, bool exact) {
    const std::size_t node_count = trie.node_shifts.size();
    TermCounts counts;
    counts.exact = exact;
    counts.nodes.resize(node_count);
    for (std::size_t node = node_count; node-- > 0;) {
        const TermCount own = own_of(static_cast<std::uint32_t>(node));
        TermCount best = trie.is_terminal[node] ? own : 0;
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

}  // namespace

TermCount TermCounts::own(const Trie& trie, std::uint32_t node) const {
    return nodes.empty() ? checked_own_count(trie, node) : nodes[node].own;
}

bool takes_exact_counts(const Trie& trie) {
    const std::size_t node_count = trie.node_shifts.size();
    return trie.walk_index.sound && trie.payloads.size() == node_count &&
           trie.is_terminal.size() == node_count;
}

TermCounts term_counts_of(const Trie& trie) {
    if (!takes_exact_counts(trie)) return {};
    std::vector<std::uint32_t> totals(trie.node_shifts.size());
    for (std::size_t node = 0; node < totals.size(); ++node) {
        totals[node] = trie.payloads.view(node).total_count;
    }
    return counts_from(
        trie,
        [&](std::uint32_t node) {
            return own_count_of(trie, node,
                                [&totals](std::uint32_t child) { return totals[child]; });
        },
        false);
}

TermCounts term_counts_of(const Trie& trie, std::span<const TermCount> exact_own) {
    return counts_from(
        trie, [exact_own](std::uint32_t node) { return exact_own[node]; }, true);
}

}  // namespace kelnor
