// Payload propagation: giving every node the best videos of its subtree.
#pragma once

#include <cstdint>

#include "index/trie/trie.hpp"

namespace kelnor {

// Replaces every node's payload by its own payload merged with its children's
// (see PayloadMerge), cut to `top_n` videos; absent payloads become empty ones.
//
// One pass from the highest node number down, so a child numbered above its
// parent is merged complete (its subtree merged, its list cut), while a child
// numbered below its parent contributes only its payload as given. A child
// listed twice is merged twice; a node listed as its own child is passed over.
// A node without any other child keeps its lists as given, only cut.
//
// The nodes are the payload slots. Raises InternalFailure "index out of
// bounds: ..." when a child range runs past child_transitions, naming the
// first position past it, or when a node or a child has no slot.
void propagate(Trie& trie, std::uint32_t top_n);

}  // namespace kelnor
