// Sums of scores by video position, for the ranking: the sums packed in the
// order the videos first come, found through open addressing in a flat array
// of slots, so that adding to a sum allocates nothing once there is room and
// reading them all out reads only the videos there are. A sum is a double, or
// for a ranking of several words any value that starts as Sum{} and takes an
// amount with +=.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kelnor {

template <class Sum>
class BasicScoreTable {
  public:
    // Room for `expected` videos before the table first grows.
    explicit BasicScoreTable(std::size_t expected) { make_room(expected); }

    // Room for `more` videos besides those there, before the table grows
    // again: one rehash for a word's tally instead of one per doubling.
    void make_room(std::size_t more) {
        const std::size_t wanted = entries_.size() + more;
        entries_.reserve(wanted);
        if (2 * wanted + 2 > slots_.size()) rehash(std::bit_ceil(2 * wanted + 2));
    }

    // Inlined where a tally adds, its one hot loop.
    template <class Amount>
    [[gnu::always_inline]] void add(std::uint32_t video, const Amount& amount) {
        std::size_t slot = find(video);
        if (slots_[slot] == EMPTY) {
            if (2 * (entries_.size() + 1) > slots_.size()) {
                grow();
                slot = find(video);
            }
            entries_.push_back({Sum{}, video, false});
            slots_[slot] = static_cast<std::uint32_t>(entries_.size());
        }
        entries_[slots_[slot] - 1].sum += amount;
    }

    // The sum of `video`, which for_each() visits no more from then on, or
    // nothing when it has none or was taken already.
    std::optional<Sum> take(std::uint32_t video) {
        const std::uint32_t slot = slots_[find(video)];
        if (slot == EMPTY) return std::nullopt;
        Entry& entry = entries_[slot - 1];
        if (entry.taken) return std::nullopt;
        entry.taken = true;
        return entry.sum;
    }

    // How many videos have been added to.
    std::size_t size() const noexcept { return entries_.size(); }

    // Calls visit(video, sum) for every video added to and not taken, in
    // the order of their first adds.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (const Entry& entry : entries_) {
            if (!entry.taken) visit(entry.video, entry.sum);
        }
    }

  private:
    struct Entry {
        Sum sum;
        std::uint32_t video;
        bool taken;
    };

    // A slot holds the position of a video's entry plus one, so that 0
    // marks an empty slot: four bytes a slot, and the sums stay packed for
    // for_each().
    static constexpr std::uint32_t EMPTY = 0;

    // The slot of `video`, or the empty slot where it would go.
    std::size_t find(std::uint32_t video) const noexcept {
        const std::size_t mask = slots_.size() - 1;
        // Fibonacci hashing: the product's top bits spread any set of
        // positions over the table.
        std::size_t slot = video * std::uint64_t{0x9E3779B97F4A7C15} >> shift_;
        while (slots_[slot] != EMPTY && entries_[slots_[slot] - 1].video != video) {
            slot = (slot + 1) & mask;
        }
        return slot;
    }

    void grow() { rehash(2 * slots_.size()); }

    void rehash(std::size_t slots) {
        slots_.assign(slots, EMPTY);
        shift_ = 64 - std::countr_zero(slots);
        for (std::size_t entry = 0; entry < entries_.size(); ++entry) {
            slots_[find(entries_[entry].video)] = static_cast<std::uint32_t>(entry + 1);
        }
    }

    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_;
    int shift_ = 64;
};

using ScoreTable = BasicScoreTable<double>;

}  // namespace kelnor
