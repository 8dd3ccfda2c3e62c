#include "index/payload/payload.hpp"

#include <limits>
#include <utility>

#include "index/encoding/varint_format.hpp"

namespace kelnor {
namespace {

// The longest form of a present slot's header: tag, total and the length of
// the first list; each list value and the second length take at most 5.
constexpr std::size_t LONGEST_HEADER = 11;
constexpr std::size_t LONGEST_VALUE = 5;

// The payload whose slot starts at `at`, calling read_id(at) to step over
// (and maybe keep) each video number on the way to the counts.
template <class ReadId>
PayloadView payload_at(const std::uint8_t* at, ReadId&& read_id) {
    if (*at++ == 0) return {};
    PayloadView view;
    view.total_count = read_packed_u32(at);
    const std::size_t id_count = read_packed_u32(at);
    const std::uint8_t* ids = at;
    for (std::size_t k = 0; k < id_count; ++k) read_id(at);
    const std::size_t count_count = read_packed_u32(at);
    view.video_ids = PackedList(ids, id_count);
    view.video_counts = PackedList(at, count_count);
    return view;
}

}  // namespace

PayloadView PayloadTable::view(std::size_t index) const noexcept {
    return payload_at(bytes_.data() + offset(index),
                      [](const std::uint8_t*& at) { read_packed_u32(at); });
}

PayloadView PayloadTable::view(std::size_t index, std::vector<std::uint32_t>& video_ids) const {
    video_ids.clear();
    return payload_at(bytes_.data() + offset(index),
                      [&](const std::uint8_t*& at) { video_ids.push_back(read_packed_u32(at)); });
}

std::size_t PayloadTable::video_count(std::size_t index) const noexcept {
    const std::uint8_t* at = bytes_.data() + offset(index);
    if (*at++ == 0) return 0;
    read_packed_u32(at);  // the total count
    return read_packed_u32(at);
}

void PayloadTable::reserve(std::size_t slots, std::size_t entries) {
    starts_.reserve(slots + 1);
    // Two bytes a slot and three an entry cover the usual payloads.
    bytes_.reserve(2 * slots + 3 * entries);
}

void PayloadTable::reserve_exactly(std::size_t slots, std::size_t bytes) {
    starts_.reserve(slots + 1);
    bytes_.reserve(bytes);
}

void PayloadTable::push_absent() {
    bytes_.push_back(0);
    end_slot(0);
}

void PayloadTable::push(std::uint32_t total_count, std::span<const std::uint32_t> video_ids,
                        std::span<const std::uint32_t> video_counts) {
    const std::size_t start = bytes_.size();
    bytes_.resize(start + LONGEST_HEADER +
                  LONGEST_VALUE * (1 + video_ids.size() + video_counts.size()));
    std::uint8_t* at = bytes_.data() + start;
    *at++ = 1;
    at = write_varint(at, total_count);
    at = write_varint(at, static_cast<std::uint32_t>(video_ids.size()));
    for (const std::uint32_t id : video_ids) at = write_varint(at, id);
    at = write_varint(at, static_cast<std::uint32_t>(video_counts.size()));
    for (const std::uint32_t count : video_counts) at = write_varint(at, count);
    bytes_.resize(static_cast<std::size_t>(at - bytes_.data()));
    end_slot(video_ids.size());
}

void PayloadTable::push_slot_of(const PayloadTable& other, std::size_t index) {
    const std::uint8_t* begin = other.bytes_.data() + other.offset(index);
    const std::uint8_t* end = other.bytes_.data() + other.offset(index + 1);
    bytes_.insert(bytes_.end(), begin, end);
    end_slot(other.video_count(index));
}

PayloadTable PayloadTable::from_encoded(std::vector<std::uint8_t> bytes,
                                        std::span<const std::uint64_t> slot_ends,
                                        std::size_t entries) {
    PayloadTable table;
    table.bytes_ = std::move(bytes);
    table.slot_count_ = slot_ends.size();
    table.entries_ = entries;
    if (table.bytes_.size() > std::numeric_limits<std::uint32_t>::max()) {
        table.starts_.clear();
        table.wide_starts_.reserve(slot_ends.size() + 1);
        table.wide_starts_.push_back(0);
        table.wide_starts_.insert(table.wide_starts_.end(), slot_ends.begin(), slot_ends.end());
        return table;
    }
    table.starts_.reserve(slot_ends.size() + 1);
    for (const std::uint64_t end : slot_ends) {
        table.starts_.push_back(static_cast<std::uint32_t>(end));
    }
    return table;
}

void PayloadTable::end_slot(std::size_t entries) {
    const std::size_t end = bytes_.size();
    if (wide_starts_.empty() && end > std::numeric_limits<std::uint32_t>::max()) {
        wide_starts_.assign(starts_.begin(), starts_.end());
        starts_ = {};
    }
    if (wide_starts_.empty()) {
        starts_.push_back(static_cast<std::uint32_t>(end));
    } else {
        wide_starts_.push_back(end);
    }
    ++slot_count_;
    entries_ += entries;
}

}  // namespace kelnor
