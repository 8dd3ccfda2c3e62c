#include "index/payload/payload_merge.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "base/internal_failure.hpp"

namespace kelnor {

namespace {

constexpr std::uint32_t count_max = std::numeric_limits<std::uint32_t>::max();

std::uint32_t saturate(std::uint64_t value) {
    return value > count_max ? count_max : static_cast<std::uint32_t>(value);
}

}  // namespace

void PayloadMerge::start(PayloadView own) {
    total_count_ = 0;
    entries_.clear();
    merge_from(own);
}

void PayloadMerge::merge_from(PayloadView other) {
    total_count_ = saturate(std::uint64_t{total_count_} + other.total_count);
    PackedList::iterator count = other.video_counts.begin();
    std::size_t j = 0;
    for (const std::uint32_t id : other.video_ids) {
        if (j >= other.video_counts.size()) fail_index_out_of_bounds(other.video_counts.size(), j);
        entries_.push_back({id, *count});
        ++count;
        ++j;
    }
}

PayloadMerge::Merged PayloadMerge::finish(std::uint32_t top_n) {
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.id < b.id; });
    std::size_t distinct = 0;
    for (const Entry& entry : entries_) {
        if (distinct > 0 && entries_[distinct - 1].id == entry.id) {
            entries_[distinct - 1].count += entry.count;
        } else {
            entries_[distinct++] = entry;
        }
    }
    const std::size_t kept = std::min<std::size_t>(distinct, top_n);
    const auto end = entries_.begin() + static_cast<std::ptrdiff_t>(distinct);
    const auto kept_end = entries_.begin() + static_cast<std::ptrdiff_t>(kept);
    const auto ranks_before = [](const Entry& a, const Entry& b) {
        return a.count != b.count ? a.count > b.count : a.id < b.id;
    };
    // The order is total, so choosing the kept ones first and then sorting
    // them gives what sorting all would; most merges keep them all.
    if (kept_end != end) std::nth_element(entries_.begin(), kept_end, end, ranks_before);
    std::sort(entries_.begin(), kept_end, ranks_before);
    ids_.clear();
    counts_.clear();
    bool counts_exact = true;
    for (std::size_t j = 0; j < kept; ++j) {
        ids_.push_back(entries_[j].id);
        counts_.push_back(saturate(entries_[j].count));
        counts_exact = counts_exact && entries_[j].count <= count_max;
    }
    return {total_count_, ids_, counts_, counts_exact};
}

}  // namespace kelnor
