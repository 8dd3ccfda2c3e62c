// Sums of scores by video position, for the ranking: open addressing in one
// flat array of slots, so that adding to a sum allocates nothing and touches
// one or two cache lines. A sum is a double, or for a ranking of several
// words any value that starts as Sum{} and takes an amount with +=.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelnor {

template <class Sum>
class BasicScoreTable {
  public:
    // Room for `expected` videos before the table first grows.
    explicit BasicScoreTable(std::size_t expected) { resize(std::bit_ceil(2 * expected + 2)); }

    template <class Amount>
    void add(std::uint32_t video, const Amount& amount) {
        std::size_t slot = find(video);
        if (!slots_[slot].used) {
            if (2 * (size_ + 1) > slots_.size()) {
                resize(2 * slots_.size());
                slot = find(video);
            }
            slots_[slot] = {Sum{}, video, true};
            ++size_;
        }
        slots_[slot].sum += amount;
    }

    // How many videos have been added to.
    std::size_t size() const noexcept { return size_; }

    // Calls visit(video, sum) for every video added to, in no particular order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (const Slot& slot : slots_) {
            if (slot.used) visit(slot.video, slot.sum);
        }
    }

  private:
    struct Slot {
        Sum sum;
        std::uint32_t video;
        bool used;
    };

    // The slot of `video`, or the empty slot where it would go.
    std::size_t find(std::uint32_t video) const noexcept {
        const std::size_t mask = slots_.size() - 1;
        // Fibonacci hashing spreads consecutive positions over the table.
        std::size_t slot = (video * std::uint64_t{0x9E3779B97F4A7C15} >> 32) & mask;
        while (slots_[slot].used && slots_[slot].video != video) slot = (slot + 1) & mask;
        return slot;
    }

    void resize(std::size_t capacity) {
        std::vector<Slot> old(capacity, Slot{Sum{}, 0, false});
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.used) slots_[find(slot.video)] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
};

using ScoreTable = BasicScoreTable<double>;

}  // namespace kelnor
