// Merging a node's payload with the payloads of its children.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "index/payload/payload.hpp"

namespace kelnor {

// One node's merge at a time, in scratch that is reused from node to node:
// once it has grown to the largest merge seen, merging allocates nothing.
//
// The merged payload holds every video of the merged lists once, its count the
// sum of that video's counts over all of them (summed in 64 bits), ranked by
// that sum, largest first. Equal sums are ranked by ascending video id, so the
// same arrays always give the same index and the same image bytes. A sum that
// does not fit the 32-bit count is stored as 4294967295; the ranking still uses
// the full sum. The total count is the saturating sum of all total counts.
class PayloadMerge {
  public:
    // Begins a merge with the node's own payload.
    void start(PayloadView own);

    // Adds the lists and the total count of `other`.
    void merge_from(PayloadView other);

    // The merged payload cut to its first `top_n` videos (the total count is
    // never cut). The lists live in the scratch: valid until the next start().
    struct Merged {
        std::uint32_t total_count;
        std::span<const std::uint32_t> video_ids;
        std::span<const std::uint32_t> video_counts;
        // Whether every kept count is its full sum: only then does merging
        // the result alone give it back unchanged (saturated sums that were
        // ranked apart tie once stored).
        bool counts_exact;
    };
    Merged finish(std::uint32_t top_n);

  private:
    struct Entry {
        std::uint32_t id;
        std::uint64_t count;
    };

    std::uint32_t total_count_ = 0;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> ids_;
    std::vector<std::uint32_t> counts_;
};

}  // namespace kelnor
