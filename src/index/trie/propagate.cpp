#include "index/trie/propagate.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"
#include "index/payload/payload_merge.hpp"

namespace kelnor {

namespace {

// Appends `payload` cut to its first `top_n` videos (an absent one becomes
// empty), copying the slot of `table` as it is when nothing is to be cut.
void push_cut(PayloadTable& out, const PayloadTable& table, std::size_t slot, std::uint32_t top_n,
              std::vector<std::uint32_t>& ids, std::vector<std::uint32_t>& counts) {
    if (!table.present(slot)) {
        out.push(0, {}, {});
        return;
    }
    const PayloadView payload = table.view(slot);
    if (payload.video_ids.size() <= top_n && payload.video_counts.size() <= top_n) {
        out.push_slot_of(table, slot);
        return;
    }
    const PackedList kept_ids = payload.video_ids.first(top_n);
    const PackedList kept_counts = payload.video_counts.first(top_n);
    ids.assign(kept_ids.begin(), kept_ids.end());
    counts.assign(kept_counts.begin(), kept_counts.end());
    out.push(payload.total_count, ids, counts);
}

}  // namespace

void propagate(Trie& trie, std::uint32_t top_n) {
    const PayloadTable& given = trie.payloads;
    const std::vector<std::uint32_t>& transitions = trie.child_transitions;
    const std::size_t node_count = given.size();

    // Made from the highest node down while `given` is still read: a child
    // numbered below its parent must be seen as given, not as merged. Node n's
    // merged payload is slot merged_slot[n] of `backwards`, which nodes share
    // where one passes its child's up unchanged.
    PayloadTable backwards;
    backwards.reserve(node_count, given.entry_capacity());
    // Child numbers are 32-bit, and so are node and slot numbers.
    constexpr std::size_t MOST_NODES = std::numeric_limits<std::uint32_t>::max();
    if (node_count > MOST_NODES) fail_index_out_of_bounds(MOST_NODES, node_count);
    std::vector<std::uint32_t> merged_slot(node_count);
    // Whether merging a slot alone would give it back unchanged: it came out
    // of a merge (its videos distinct, ranked and cut) with exact counts.
    std::vector<bool> slot_stays_merged;
    slot_stays_merged.reserve(node_count);
    PayloadMerge merge;
    std::vector<std::uint32_t> ids;
    std::vector<std::uint32_t> counts;

    for (std::size_t node = node_count; node-- > 0;) {
        const ChildRange children = child_range(trie, node);
        if (!children.empty() && children.end > transitions.size()) {
            fail_index_out_of_bounds(transitions.size(),
                                     std::max(children.begin, transitions.size()));
        }
        // Most nodes inside a long term have one child and nothing of their
        // own: they share their child's merged payload.
        if (!children.empty() && children.end - children.begin == 1) {
            const std::size_t child = transitions[children.begin];
            if (child > node && child < node_count && slot_stays_merged[merged_slot[child]] &&
                given.video_count(node) == 0 && given.view(node).total_count == 0) {
                merged_slot[node] = merged_slot[child];
                continue;
            }
        }
        merged_slot[node] = static_cast<std::uint32_t>(backwards.size());
        bool merging = false;
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::size_t child = transitions[position];
            if (child == node) continue;
            if (child >= node_count) fail_index_out_of_bounds(node_count, child);
            if (!merging) {
                merge.start(given.view(node));
                merging = true;
            }
            merge.merge_from(child > node ? backwards.view(merged_slot[child]) : given.view(child));
        }
        if (merging) {
            const PayloadMerge::Merged merged = merge.finish(top_n);
            backwards.push(merged.total_count, merged.video_ids, merged.video_counts);
            slot_stays_merged.push_back(merged.counts_exact);
        } else {
            push_cut(backwards, given, node, top_n, ids, counts);
            slot_stays_merged.push_back(false);
        }
    }

    // The payloads as given are done with: let them go before the copy in
    // node order, so that the peak is two tables of merged payloads, not three.
    trie.payloads = PayloadTable{};
    std::size_t bytes = 0;
    for (const std::uint32_t slot : merged_slot) bytes += backwards.slot_bytes(slot);
    PayloadTable merged;
    merged.reserve_exactly(node_count, bytes);
    for (const std::uint32_t slot : merged_slot) merged.push_slot_of(backwards, slot);
    trie.payloads = std::move(merged);
}

}  // namespace kelnor
