// Building an index from the host's flat arrays (internal data, version 2).
//
// The binding converts the six Python arguments, then runs these steps in
// order, raising the first message as ValueError: check_shape(), the
// conversion of the payload tuples node by node (its own, since it reads Python
// objects), choose_video_ids() (video_index.hpp), and finally assemble().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "builds/video_index.hpp"
#include "index/payload/payload.hpp"
#include "index/trie/trie.hpp"

namespace kelnor {

// The node arrays as the host gave them, converted but not yet checked
// against one another.
struct InternalData {
    std::vector<std::uint32_t> node_shifts;
    std::vector<char32_t> child_labels;  // first code point of each label, 0 for ""
    std::vector<std::uint32_t> child_transitions;
    PayloadTable payloads;  // as given: absent where the host passed None
    // Each node's own count as the build summed it, exactly, when the build
    // had the records (0 for a node where no term ends); empty when the host
    // gave the arrays alone, and the own counts are then derived from the
    // payload totals (term_counts.hpp).
    std::vector<TermCount> own_counts;
};

// The length checks and the transition range check, in that order: the
// message of the first failure, or nothing when the shape is sound. The node
// count is the number of labels.
std::optional<std::string> check_shape(std::size_t node_shift_count, std::size_t label_count,
                                       std::size_t payload_count,
                                       std::span<const std::uint32_t> child_transitions);

// The first code point of a label's UTF-8 text (the interpreter's own
// encoding, so well-formed; U+FFFD should it start otherwise), or 0 for an
// empty label.
char32_t label_code_point(std::string_view utf8);

// Moves checked data into a Trie, marks the nodes that carried a payload as
// terminal, propagates the payloads with `top_n` and keeps the own counts
// (exact when `data.own_counts` holds one per node). Precondition: check_shape
// passed. Raises InternalFailure when a child range runs past
// child_transitions (see propagate()).
Trie assemble(InternalData data, VideoTable videos, std::uint32_t top_n);

}  // namespace kelnor
