// A node's payload and the table that holds the payloads of all nodes.
//
// A payload is a total count and two parallel lists: video numbers (positions
// in the index's video id table) and their counts. The table keeps every
// slot in the form the index image gives it (payload_image.hpp): a tag byte
// (0 absent, 1 present), then the total count, the video numbers and the
// counts as counted lists of variable-length integers in their shortest
// form. That is about half the room of 32-bit arrays for real payloads, lets
// the image be written by copying and restored by checking, and reads in
// order at the speed the ranking and the merge need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "index/payload/packed_list.hpp"

namespace kelnor {

// One node's payload, viewed in place. The two lists have equal lengths in any
// index built from arrays; a restored image may hold lists of different
// lengths, which the table keeps as they are so that they re-encode unchanged.
struct PayloadView {
    std::uint32_t total_count = 0;
    PackedList video_ids;
    PackedList video_counts;
};

class PayloadTable {
  public:
    // Number of slots (one per node in a well-formed index).
    std::size_t size() const noexcept { return slot_count_; }

    // Whether slot `index` holds a payload; precondition: index < size().
    bool present(std::size_t index) const noexcept { return bytes_[offset(index)] == 1; }

    // The payload of slot `index` (empty lists and total 0 for an absent one);
    // precondition: index < size().
    PayloadView view(std::size_t index) const noexcept;

    // view(index), with its video numbers also decoded into `video_ids`
    // (replacing what it held): finding where the counts start reads the
    // numbers anyway, so a reader of both lists reads them once, not twice.
    PayloadView view(std::size_t index, std::vector<std::uint32_t>& video_ids) const;

    // How many videos the payload of slot `index` lists (0 for an absent
    // one), without reading the lists; precondition: index < size().
    std::size_t video_count(std::size_t index) const noexcept;

    // Number of video numbers stored over all slots (for sizing).
    std::size_t entry_capacity() const noexcept { return entries_; }

    void reserve(std::size_t slots, std::size_t entries);

    // Room for exactly `slots` slots of `bytes` bytes in all.
    void reserve_exactly(std::size_t slots, std::size_t bytes);

    // How many bytes slot `index` takes; precondition: index < size().
    std::size_t slot_bytes(std::size_t index) const noexcept {
        return offset(index + 1) - offset(index);
    }

    void push_absent();

    void push(std::uint32_t total_count, std::span<const std::uint32_t> video_ids,
              std::span<const std::uint32_t> video_counts);

    // Appends a copy of slot `index` of `other` (another table).
    void push_slot_of(const PayloadTable& other, std::size_t index);

    // The slots one after another, as the image holds them.
    std::span<const std::uint8_t> encoded() const noexcept { return bytes_; }

    // The table of slots given in their image form: `bytes` holds them one
    // after another, all well-formed and in shortest form, slot k ending at
    // `slot_ends`[k], with `entries` video numbers in all.
    static PayloadTable from_encoded(std::vector<std::uint8_t> bytes,
                                     std::span<const std::uint64_t> slot_ends, std::size_t entries);

  private:
    std::size_t offset(std::size_t index) const noexcept {
        return wide_starts_.empty() ? starts_[index] : wide_starts_[index];
    }
    void end_slot(std::size_t entries);

    std::vector<std::uint8_t> bytes_;
    // Where each slot starts, and where the last one ends (size() + 1
    // entries); 32-bit while the slots fit in 4 GiB, else 64-bit.
    std::vector<std::uint32_t> starts_{0};
    std::vector<std::uint64_t> wide_starts_;
    std::size_t slot_count_ = 0;
    std::size_t entries_ = 0;
};

}  // namespace kelnor
