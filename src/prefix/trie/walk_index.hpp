// What the matchers' fast walk reads instead of the Trie's own arrays: the
// same facts laid out for the cache, derived once when a Trie is built or
// decoded, for a sound Trie only.
//
// Sound: every array holds every position that the walk reads from it (each
// node has its node_shifts and child_labels entries, each child range lies in
// child_transitions, each child is a node), so that the fast walk can read
// ahead of the depth-first order without a read failing. A damaged index is
// not sound and is walked by the checked walk, which fails where it should.
//
// Edge labels: each child's label beside its position in child_transitions,
// so that scanning a node's children reads one byte per child in order
// instead of looking up every child's label wherever the child lies.
//
// Heights: how many labels a path can still add below each child, beside
// the edge (and beside each top node), so that the walk leaves a subtree out
// when no path in it is long enough to come within the bound of the query.
//
// The top: the first levels of the trie below the root, breadth first, each
// node's children next to each other. Every query walks through the top
// levels, and in the Trie's own numbering their nodes lie scattered over the
// whole index (a few cache lines each); here a node's children are next to
// each other, their label bytes packed for scanning, and the top levels stay
// in the cache from one query to the next. A node's children are in
// child_transitions order, with the children labelled 0 (which the walk never
// enters) left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelnor {

struct Trie;

// The edge label byte of a label of 255 or more (the walk then reads child_labels).
inline constexpr std::uint8_t kLabelElsewhere = 255;

// The height of a node: the most labels that a path can add below it (0 for
// a node without labelled children), or kUnknownHeight when that is this
// many or more, or when the trie is not numbered parent before child (a node
// may then be its own descendant).
inline constexpr std::uint8_t kUnknownHeight = 255;

// The top holds no more nodes than this (10 bytes each).
inline constexpr std::size_t kMaxTopNodes = 1 << 18;

struct WalkIndex {
    // Whether the Trie was sound; everything else is empty when not.
    bool sound = false;

    // Per position of child_transitions: the label byte of the child there.
    std::vector<std::uint8_t> edge_labels;
    // Per position of child_transitions: the height of the child there.
    std::vector<std::uint8_t> edge_heights;

    // The top nodes in breadth-first order from the root (top node 0): their
    // node numbers, label bytes and heights. The children of top node k are top nodes
    // top_first[k] to top_first[k + 1] - 1 when k is below inner_top; the
    // others find their children in the Trie.
    std::vector<std::uint32_t> top_nodes;
    std::vector<std::uint8_t> top_labels;
    std::vector<std::uint8_t> top_heights;
    std::vector<std::uint32_t> top_first;  // inner_top + 1 entries
    std::size_t inner_top = 0;
};

// The walk index of `trie`'s current arrays.
WalkIndex walk_index_of(const Trie& trie);

}  // namespace kelnor
