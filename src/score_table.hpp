// Sums of scores by video position, for the ranking: open addressing in two
// flat arrays, so that adding to a sum allocates nothing and touches one or
// two cache lines.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelnor {

class ScoreTable {
  public:
    // Room for `expected` videos before the table first grows.
    explicit ScoreTable(std::size_t expected) { resize(std::bit_ceil(2 * expected + 2)); }

    void add(std::uint32_t video, double amount) {
        std::size_t slot = find(video);
        if (!used_[slot]) {
            if (2 * (size_ + 1) > videos_.size()) {
                resize(2 * videos_.size());
                slot = find(video);
            }
            used_[slot] = 1;
            videos_[slot] = video;
            ++size_;
        }
        sums_[slot] += amount;
    }

    // Calls visit(video, sum) for every video added to, in no particular order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::size_t slot = 0; slot < videos_.size(); ++slot) {
            if (used_[slot]) visit(videos_[slot], sums_[slot]);
        }
    }

  private:
    // The slot of `video`, or the empty slot where it would go.
    std::size_t find(std::uint32_t video) const noexcept {
        const std::size_t mask = videos_.size() - 1;
        // Fibonacci hashing spreads consecutive positions over the table.
        std::size_t slot = (video * std::uint64_t{0x9E3779B97F4A7C15} >> 32) & mask;
        while (used_[slot] && videos_[slot] != video) slot = (slot + 1) & mask;
        return slot;
    }

    void resize(std::size_t capacity) {
        std::vector<std::uint32_t> videos(capacity);
        std::vector<double> sums(capacity);
        std::vector<std::uint8_t> used(capacity);
        videos.swap(videos_);
        sums.swap(sums_);
        used.swap(used_);
        size_ = 0;
        for (std::size_t slot = 0; slot < videos.size(); ++slot) {
            if (!used[slot]) continue;
            const std::size_t to = find(videos[slot]);
            used_[to] = 1;
            videos_[to] = videos[slot];
            sums_[to] = sums[slot];
            ++size_;
        }
    }

    std::vector<std::uint32_t> videos_;
    std::vector<double> sums_;
    std::vector<std::uint8_t> used_;
    std::size_t size_ = 0;
};

}  // namespace kelnor
