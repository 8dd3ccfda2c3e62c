// What the matchers' fast walk reads instead of the Trie's own arrays: the
// same facts laid out for the cache, derived once when a Trie is built or
// decoded, for a sound Trie only.
//
// Sound: every array holds every position that the walk reads from it (each
// node has its node_shifts and child_labels entries, each child range lies in
// child_transitions after those of the nodes before it, each child is a
// node), so that the fast walk can read ahead of the depth-first order
// without a read failing. A damaged index is not sound and is walked by the
// checked walk, which fails where it should.
//
// Edge labels: each child's label byte by its position in child_transitions,
// so that scanning a node's children reads one byte per child in order
// instead of looking up every child's label wherever the child lies.
//
// Heights: how many labels a path can still add below each child, beside
// its label byte, so that the walk leaves a subtree out when no path in it is
// long enough to come within the bound of the query.
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
#include <optional>
#include <vector>

#include "index/trie/gram_filter.hpp"

namespace kelnor {

struct Trie;

// The edge label byte of a label of 255 or more (the walk then reads child_labels).
inline constexpr std::uint8_t LABEL_ELSEWHERE = 255;

// The height of a node: the most labels that a path can add below it (0 for
// a node without labelled children), or UNKNOWN_HEIGHT when that is this
// many or more, or when the trie is not numbered parent before child (a node
// may then be its own descendant).
inline constexpr std::uint8_t UNKNOWN_HEIGHT = 255;

// The label byte arrays end with this many 0 bytes past their last entry, so
// that the walk may read a node's label bytes 16 at a time.
inline constexpr std::size_t LABEL_PADDING = 16;

// What the three levels below a node are labelled, as a lookahead of 64
// bits: for each child, bit label % 21; for each grandchild, one of 21 bits
// by the two labels on the way; for each great-grandchild, one of 22 bits by
// the three labels. Different labels may share a bit, so a lookahead tells
// which labels are surely missing, not which are there. Labels 0 (no label)
// count for nothing.
//
// All that the bits keep of a label is its residues, so that a query works
// them out once per character rather than once per bit.
struct LookaheadLabel {
    LookaheadLabel(char32_t label) noexcept : mod21(label % 21), mod22(label % 22) {}
    std::uint32_t mod21;
    std::uint32_t mod22;
};

inline std::uint64_t child_lookahead(LookaheadLabel child) noexcept {
    return std::uint64_t{1} << child.mod21;
}
inline std::uint64_t grandchild_lookahead(LookaheadLabel child,
                                          LookaheadLabel grandchild) noexcept {
    return std::uint64_t{1} << (21 + (7 * child.mod21 + grandchild.mod21) % 21);
}
inline std::uint64_t great_grandchild_lookahead(LookaheadLabel child, LookaheadLabel grandchild,
                                                LookaheadLabel great_grandchild) noexcept {
    return std::uint64_t{1} << (42 +
                                (11 * child.mod22 + 5 * grandchild.mod22 + great_grandchild.mod22) %
                                    22);
}

// A node of the top: its node number, where its children start among the
// top nodes (they end where the next top node's start), and its lookahead
// (of the three levels below it in the Trie).
struct TopNode {
    std::uint64_t lookahead;
    std::uint32_t node;
    std::uint32_t first_child;
};

// The top holds fewer nodes than this.
inline constexpr std::size_t MAX_TOP_NODES = std::size_t{1} << 17;

// The levels of the top below the root whose nodes the gram filter covers:
// deeper nodes have few enough great-grandchildren for their lookaheads.
inline constexpr std::size_t FILTERED_LEVELS = 3;

// The label bytes and heights of children, grouped by parent: for the
// children at positions [first, end) of one parent, their label bytes at
// [first + first, first + end) and their heights right after them, at
// [end + first, end + end). The bytes that the walk scans of a parent's
// children then share their cache lines, and the walk finds both from the
// parent's range alone. Each parent's positions must lie apart from every
// other's.
class ChildBytes {
  public:
    ChildBytes() = default;

    // Room for the children at positions below `positions`, all unlabelled.
    explicit ChildBytes(std::size_t positions) : bytes_(2 * positions + LABEL_PADDING) {}

    void set(std::size_t first, std::size_t end, std::size_t position, std::uint8_t label,
             std::uint8_t height) noexcept {
        bytes_[first + position] = label;
        bytes_[end + position] = height;
    }

    // Indexed by position, for a parent whose children are at [first, end);
    // past the last child's, LABEL_PADDING more bytes can be read.
    const std::uint8_t* labels(std::size_t first) const noexcept { return bytes_.data() + first; }
    const std::uint8_t* heights(std::size_t end) const noexcept { return bytes_.data() + end; }

    std::size_t size() const noexcept { return bytes_.size(); }

  private:
    std::vector<std::uint8_t> bytes_;
};

struct WalkIndex {
    // Whether the Trie was sound; everything else is empty when not.
    bool sound = false;

    // The most labels on a path from the root (the root's height), when
    // known: no walk goes deeper.
    std::optional<std::uint32_t> deepest;

    // By position of child_transitions: the label byte and height of the
    // child there.
    ChildBytes edge_bytes;

    // The top nodes in breadth-first order from the root (top node 0), and
    // one more whose first_child ends the children of the last inner node;
    // the label bytes and heights of top nodes 1 on apart, for passing over
    // a node's children sixteen at a time.
    // The children of top node k are top nodes top[k].first_child to
    // top[k + 1].first_child - 1 when k is below inner_top; the others find
    // their children in the Trie.
    std::vector<TopNode> top;
    ChildBytes top_bytes;
    std::size_t inner_top = 0;

    // Which three labels follow the children of top nodes 0 to
    // grams.end() - 1: those of the first FILTERED_LEVELS levels below the
    // root, or of fewer when the lookaheads' budget ran out before them or
    // their paths outnumber the trie's nodes.
    GramFilter grams;
};

// The walk index of `trie`'s current arrays.
WalkIndex walk_index_of(const Trie& trie);

}  // namespace kelnor
