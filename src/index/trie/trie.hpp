// The index: a prefix trie held as flat arrays.
//
// Nodes are numbered from 0 (the root). Every per-node property lives in its
// own array at the node's number; the edges are one array of child node
// numbers in which each node's children form one contiguous run. Nothing here
// is validated: a Trie restored from an image holds whatever arrays the image
// held, so every reader must bounds-check what it indexes (see
// internal_failure.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/internal_failure.hpp"
#include "index/payload/payload.hpp"
#include "index/trie/term_counts.hpp"
#include "index/trie/walk_index.hpp"

namespace kelnor {

// Which video id table is in force. The numbers are stored in the image.
enum class IdMode : std::uint32_t {
    Uuid = 0,   // 16-byte ids in video_uuids, shown as UUID text
    Int32 = 1,  // unsigned 32-bit ids in video_int_ids, shown as decimal text
};

using VideoUuid = std::array<std::uint8_t, 16>;

// The fields in image order; the image encodes them in exactly this order.
struct Trie {
    std::vector<std::uint32_t> node_shifts;        // start of each node's child run
    std::vector<char32_t> child_labels;            // label of the edge into each node; 0: none
    std::vector<std::uint32_t> child_transitions;  // child node numbers, grouped by parent
    PayloadTable payloads;                         // one optional payload per node
    std::vector<VideoUuid> video_uuids;            // video table in Uuid mode
    std::vector<std::uint32_t> video_int_ids;      // video table in Int32 mode
    IdMode id_mode = IdMode::Uuid;
    std::vector<std::uint8_t> is_terminal;  // 1 where an indexed term ends, else 0

    // Not part of the image: derived from the fields above by walk_index_of()
    // once a Trie is built or decoded, for the matchers (walk_index.hpp). A
    // Trie whose arrays change afterwards must derive it again; left empty,
    // the matchers read the fields above instead.
    WalkIndex walk_index;
    // Likewise derived, by term_counts_of() after the walk index, for the
    // suggestions (term_counts.hpp).
    TermCounts term_counts;
};

// Positions [begin, end) of a node's children in child_transitions. A range
// whose begin is not below its end is empty, whatever the values; the end may
// lie beyond child_transitions in a damaged index, so readers check each
// position.
struct ChildRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool empty() const noexcept { return begin >= end; }
};

// The child range of `node`: from node_shifts[node] to node_shifts[node + 1],
// or to the end of child_transitions for the last entry of node_shifts.
// Raises InternalFailure when `node` has no node_shifts entry.
inline ChildRange child_range(const Trie& trie, std::size_t node) {
    const auto& shifts = trie.node_shifts;
    std::size_t begin = checked_at(shifts, node);
    std::size_t end = node + 1 < shifts.size() ? shifts[node + 1] : trie.child_transitions.size();
    return {begin, end};
}

}  // namespace kelnor
