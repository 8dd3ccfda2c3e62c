#include "index/trie/walk_index.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "index/trie/trie.hpp"

namespace kelnor {
namespace {

std::uint8_t label_byte(char32_t label) {
    return label < LABEL_ELSEWHERE ? static_cast<std::uint8_t>(label) : LABEL_ELSEWHERE;
}

bool is_sound(const Trie& trie) {
    const std::size_t node_count = trie.node_shifts.size();
    const std::vector<std::uint32_t>& transitions = trie.child_transitions;
    if (node_count == 0 || trie.child_labels.size() != node_count) return false;
    // Positions of child_transitions fit 32 bits.
    if (transitions.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    // The child ranges lie one after the other, as ChildBytes needs.
    std::size_t covered = 0;
    for (std::size_t node = 0; node < node_count; ++node) {
        const ChildRange children = child_range(trie, node);
        if (children.empty()) continue;
        if (children.begin < covered || children.end > transitions.size()) return false;
        covered = children.end;
    }
    return std::all_of(transitions.begin(), transitions.end(),
                       [node_count](std::uint32_t child) { return child < node_count; });
}

// Every node's height (see UNKNOWN_HEIGHT), uncapped: one pass from the last
// node up when every labelled child is numbered above its parent, as in a
// trie laid out depth first; nothing otherwise, since a node may then be its
// own descendant.
using Heights = std::optional<std::vector<std::uint32_t>>;

Heights heights_of(const Trie& trie) {
    const std::size_t node_count = trie.node_shifts.size();
    std::vector<std::uint32_t> heights(node_count, 0);
    for (std::size_t node = node_count; node-- > 0;) {
        const ChildRange children = child_range(trie, node);
        std::uint32_t height = 0;
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::uint32_t child = trie.child_transitions[position];
            if (trie.child_labels[child] == 0) continue;
            if (child <= node) return std::nullopt;
            height = std::max(height, heights[child] + 1);
        }
        heights[node] = height;
    }
    return heights;
}

std::uint8_t height_byte(const Heights& heights, std::uint32_t node) {
    if (!heights) return UNKNOWN_HEIGHT;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>((*heights)[node], UNKNOWN_HEIGHT));
}

// Sets the label bytes and heights of a parent's children at positions
// [first, end), where node_at(position) is the child at each.
template <class NodeAt>
void set_children(ChildBytes& bytes, const Trie& trie, const Heights& heights, std::size_t first,
                  std::size_t end, NodeAt&& node_at) {
    for (std::size_t position = first; position < end; ++position) {
        const std::uint32_t child = node_at(position);
        bytes.set(first, end, position, label_byte(trie.child_labels[child]),
                  height_byte(heights, child));
    }
}

ChildBytes edge_bytes_of(const Trie& trie, const Heights& heights) {
    ChildBytes bytes(trie.child_transitions.size());
    for (std::size_t node = 0; node < trie.node_shifts.size(); ++node) {
        const ChildRange children = child_range(trie, node);
        set_children(bytes, trie, heights, children.begin, children.end,
                     [&](std::size_t position) { return trie.child_transitions[position]; });
    }
    return bytes;
}

ChildBytes top_bytes_of(const Trie& trie, const Heights& heights, const WalkIndex& index) {
    ChildBytes bytes(index.top.size() - 1);
    for (std::size_t k = 0; k < index.inner_top; ++k) {
        set_children(bytes, trie, heights, index.top[k].first_child, index.top[k + 1].first_child,
                     [&](std::size_t position) { return index.top[position].node; });
    }
    return bytes;
}

// The grams for the filter, one per path of three labels below a child of a
// filtered top node, in parent order. A trie whose nodes share children could
// have many more such paths than nodes: the filter then covers fewer levels.
class FollowingGrams {
  public:
    explicit FollowingGrams(std::size_t room) : room_(room) {}

    // Three labels below the child at place `place` among the children of
    // top node `parent`.
    void add(std::uint32_t parent, std::uint32_t place, char32_t first, char32_t second,
             char32_t third) {
        if (grams_.size() == room_) {
            full_ = true;
            return;
        }
        grams_.push_back({parent, place, gram_of(first, second, third)});
    }

    bool full() const noexcept { return full_; }

    // The filter of the grams below the children of top nodes below `end`.
    GramFilter filter(std::size_t end) const {
        const auto kept = std::partition_point(
            grams_.begin(), grams_.end(), [end](const Gram& gram) { return gram.parent < end; });
        GramFilter filter(static_cast<std::size_t>(kept - grams_.begin()), end);
        for (auto gram = grams_.begin(); gram != kept; ++gram) {
            filter.add(gram->parent, gram->gram, gram->place);
        }
        return filter;
    }

  private:
    struct Gram {
        std::uint32_t parent;
        std::uint32_t place;
        std::uint64_t gram;
    };
    std::vector<Gram> grams_;
    std::size_t room_;
    bool full_ = false;
};

// The lookahead of `node`, paid for from `budget`, one unit per child looked
// at: a trie whose nodes share children could make the three levels below
// its nodes very many, so once the budget is spent a lookahead holds every
// bit (anything may follow). A tree spends at most three units per edge.
// With `grams`, also adds there the three labels of every path of three
// below the node, as following the child at place `place` among the children
// of top node `parent`.
std::uint64_t lookahead_of(const Trie& trie, std::uint32_t node, std::size_t& budget,
                           FollowingGrams* grams, std::uint32_t parent, std::uint32_t place) {
    std::uint64_t lookahead = 0;
    bool complete = true;
    const auto labelled_children = [&](std::uint32_t parent, auto&& visit) {
        const ChildRange children = child_range(trie, parent);
        for (std::size_t position = children.begin; position < children.end; ++position) {
            if (budget == 0) {
                complete = false;
                return;
            }
            --budget;
            const std::uint32_t child = trie.child_transitions[position];
            const char32_t label = trie.child_labels[child];
            if (label != 0) visit(child, label);
        }
    };
    labelled_children(node, [&](std::uint32_t child, char32_t first) {
        lookahead |= child_lookahead(first);
        labelled_children(child, [&](std::uint32_t grandchild, char32_t second) {
            lookahead |= grandchild_lookahead(first, second);
            labelled_children(grandchild, [&](std::uint32_t, char32_t third) {
                lookahead |= great_grandchild_lookahead(first, second, third);
                if (grams) grams->add(parent, place, first, second, third);
            });
        });
    });
    return complete ? lookahead : ~std::uint64_t{0};
}

std::size_t child_count(const Trie& trie, std::uint32_t node) {
    const ChildRange children = child_range(trie, node);
    return children.empty() ? 0 : children.end - children.begin;
}

// Adds the children of the top nodes [level_begin, level_end) as the next
// level, their lookaheads paid for from `budget`, and with `grams` their
// grams (see lookahead_of).
void add_level(const Trie& trie, std::size_t level_begin, std::size_t level_end,
               std::size_t& budget, FollowingGrams* grams, WalkIndex& index) {
    for (std::size_t k = level_begin; k < level_end; ++k) {
        index.top[k].first_child = static_cast<std::uint32_t>(index.top.size());
        const ChildRange children = child_range(trie, index.top[k].node);
        for (std::size_t position = children.begin; position < children.end; ++position) {
            const std::uint32_t child = trie.child_transitions[position];
            const char32_t label = trie.child_labels[child];
            if (label == 0) continue;
            const auto place =
                static_cast<std::uint32_t>(index.top.size() - index.top[k].first_child);
            index.top.push_back(
                {lookahead_of(trie, child, budget, grams, static_cast<std::uint32_t>(k), place),
                 child, 0});
        }
    }
}

}  // namespace

WalkIndex walk_index_of(const Trie& trie) {
    WalkIndex index;
    if (!is_sound(trie)) return index;
    index.sound = true;
    const Heights heights = heights_of(trie);
    if (heights) index.deepest = (*heights)[0];
    index.edge_bytes = edge_bytes_of(trie, heights);
    // Decoding costs a small multiple of the image: the top never holds more
    // nodes than the trie (a node whose parents share it could appear many
    // times), and the lookaheads cost at most four units per node and edge.
    const std::size_t node_count = trie.node_shifts.size();
    const std::size_t top_room = std::min(MAX_TOP_NODES, node_count + 1);
    std::size_t budget = 4 * (node_count + trie.child_transitions.size());
    index.top.push_back({lookahead_of(trie, 0, budget, nullptr, 0, 0), 0, 0});
    std::size_t level_begin = 0;
    std::size_t level_end = 1;
    FollowingGrams grams(node_count);
    std::size_t filtered_end = 0;
    // Levels are added whole while they fit; the nodes of the last one find
    // their children in the Trie.
    for (std::size_t level = 1; level_begin < level_end; ++level) {
        std::size_t next_level = 0;
        for (std::size_t k = level_begin; k < level_end; ++k) {
            next_level += child_count(trie, index.top[k].node);
        }
        if (level_end + next_level >= top_room) break;
        const bool filtered = level <= FILTERED_LEVELS;
        add_level(trie, level_begin, level_end, budget, filtered ? &grams : nullptr, index);
        level_begin = level_end;
        level_end = index.top.size();
        // A node whose lookahead ran out of budget has grams missing.
        if (filtered && budget > 0 && !grams.full()) filtered_end = level_begin;
    }
    index.grams = grams.filter(filtered_end);
    index.inner_top = level_begin;
    const auto top_end = static_cast<std::uint32_t>(level_end);
    for (std::size_t k = level_begin; k < level_end; ++k) index.top[k].first_child = top_end;
    index.top.push_back({0, 0, top_end});
    index.top_bytes = top_bytes_of(trie, heights, index);
    return index;
}

}  // namespace kelnor
