#include "prefix/trie/propagate.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "internal_failure.hpp"
#include "payload/payload_merge.hpp"

namespace kelnor {

namespace {

PayloadView cut(PayloadView payload, std::uint32_t top_n) {
    return {payload.total_count,
            payload.video_ids.first(std::min<std::size_t>(payload.video_ids.size(), top_n)),
            payload.video_counts.first(std::min<std::size_t>(payload.video_counts.size(), top_n))};
}

}  // namespace

void propagate(Trie& trie, std::uint32_t top_n) {
    const PayloadTable& given = trie.payloads;
    const std::vector<std::uint32_t>& transitions = trie.child_transitions;
    const std::size_t node_count = given.size();

    // Filled from the highest slot down while `given` is still read: a child
    // numbered below its parent must be seen as given, not as merged.
    PayloadTable merged;
    merged.reserve(node_count, given.entry_capacity());
    merged.resize(node_count);
    PayloadMerge merge;

    for (std::size_t node = node_count; node-- > 0;) {
        const ChildRange children = child_range(trie, node);
        if (!children.empty() && children.end > transitions.size()) {
            fail_index_out_of_bounds(transitions.size(),
                                     std::max(children.begin, transitions.size()));
        }
        bool merging = false;
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::size_t child = transitions[position];
            if (child == node) continue;
            if (child >= node_count) fail_index_out_of_bounds(node_count, child);
            if (!merging) {
                merge.start(given.view(node));
                merging = true;
            }
            merge.merge_from(child > node ? merged.view(child) : given.view(child));
        }
        const PayloadView result = merging ? merge.finish(top_n) : cut(given.view(node), top_n);
        merged.assign(node, result.total_count, result.video_ids, result.video_counts);
    }
    trie.payloads = std::move(merged);
}

}  // namespace kelnor
