// A node's payload and the flat table that holds the payloads of all nodes.
//
// A payload is a total count and two parallel lists: video numbers (positions
// in the index's video id table) and their counts. Keeping every node's lists
// in two shared arrays instead of one heap block per node keeps the index
// compact and lets propagation and decoding fill it without per-node
// allocations.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelnor {

// One node's payload, viewed in place. The two lists have equal lengths in any
// index built from arrays; a restored image may hold lists of different
// lengths, which the table keeps as they are so that they re-encode unchanged.
struct PayloadView {
    std::uint32_t total_count = 0;
    std::span<const std::uint32_t> video_ids;
    std::span<const std::uint32_t> video_counts;
};

class PayloadTable {
public:
    // Number of slots (one per node in a well-formed index).
    std::size_t size() const noexcept { return slots_.size(); }

    // Whether slot `index` holds a payload; precondition: index < size().
    bool present(std::size_t index) const noexcept { return slots_[index].present; }

    // The payload of slot `index` (empty lists and total 0 for an absent one);
    // precondition: index < size().
    PayloadView view(std::size_t index) const noexcept {
        const Slot& slot = slots_[index];
        return {slot.total_count, {ids_.data() + slot.start, slot.id_count},
                {counts_.data() + slot.start, slot.count_count}};
    }

    // Number of list entries stored over all slots (for sizing and memory figures).
    std::size_t entry_capacity() const noexcept { return ids_.size(); }

    void reserve(std::size_t slots, std::size_t entries) {
        slots_.reserve(slots);
        ids_.reserve(entries);
        counts_.reserve(entries);
    }

    void push_absent() { slots_.push_back(Slot{}); }

    void push(std::uint32_t total_count, std::span<const std::uint32_t> video_ids,
              std::span<const std::uint32_t> video_counts) {
        slots_.push_back(Slot{});
        assign(slots_.size() - 1, total_count, video_ids, video_counts);
    }

    // Appends `count` absent slots, to be filled later with assign() in any order.
    void resize(std::size_t count) { slots_.resize(count); }

    // Makes slot `index` a present payload holding copies of the given lists;
    // precondition: index < size(). The lists are appended to the shared
    // arrays, so assign each slot once.
    void assign(std::size_t index, std::uint32_t total_count,
                std::span<const std::uint32_t> video_ids,
                std::span<const std::uint32_t> video_counts) {
        Slot& slot = slots_[index];
        slot.start = ids_.size();
        slot.total_count = total_count;
        slot.id_count = static_cast<std::uint32_t>(video_ids.size());
        slot.count_count = static_cast<std::uint32_t>(video_counts.size());
        slot.present = true;
        ids_.insert(ids_.end(), video_ids.begin(), video_ids.end());
        counts_.insert(counts_.end(), video_counts.begin(), video_counts.end());
        // Both arrays advance by the longer list so that one start serves both.
        ids_.resize(slot.start + std::max(video_ids.size(), video_counts.size()));
        counts_.resize(ids_.size());
    }

    std::size_t memory_bytes() const noexcept {
        return slots_.capacity() * sizeof(Slot) +
               (ids_.capacity() + counts_.capacity()) * sizeof(std::uint32_t);
    }

private:
    struct Slot {
        std::size_t start = 0;
        std::uint32_t total_count = 0;
        std::uint32_t id_count = 0;
        std::uint32_t count_count = 0;
        bool present = false;
    };

    std::vector<Slot> slots_;
    std::vector<std::uint32_t> ids_;
    std::vector<std::uint32_t> counts_;
};

}  // namespace kelnor
