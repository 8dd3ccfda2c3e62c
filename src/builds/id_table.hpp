// Dense ids for keys in order of first appearance: the terms of a build and
// its video positions. An open-addressing table of 32-bit ids with a part of
// each key's hash beside it, so that a probe compares keys only when the
// hashes agree, and no allocation per key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"

namespace kelnor::columns {

inline std::uint64_t mix_bits(std::uint64_t x) noexcept {
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    return x ^ (x >> 32);
}

struct KeyHash {
    std::uint64_t operator()(std::uint32_t key) const noexcept { return mix_bits(key); }

    std::uint64_t operator()(std::uint64_t key) const noexcept {
        return mix_bits(key ^ 0x9E3779B97F4A7C15ULL);
    }

    std::uint64_t operator()(std::string_view key) const noexcept {
        std::uint64_t h = key.size() * 0x9E3779B97F4A7C15ULL;
        const char* at = key.data();
        std::size_t left = key.size();
        for (; left >= 8; left -= 8, at += 8) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            h = (h ^ word) * 0xFF51AFD7ED558CCDULL;
            h ^= h >> 29;
        }
        std::uint64_t tail = 0;
        if (left != 0) std::memcpy(&tail, at, left);  // an empty view may have no data
        return mix_bits(h ^ tail);
    }

    std::uint64_t operator()(const std::array<std::uint8_t, 16>& key) const noexcept {
        std::uint64_t halves[2];
        std::memcpy(halves, key.data(), sizeof halves);
        return mix_bits(halves[0] ^ mix_bits(halves[1]));
    }
};

template <class Key>
class IdTable {
  public:
    // What id_of() answers for a new key that `accept` refused.
    static constexpr std::uint32_t NOT_ADDED = ~std::uint32_t{0};

    static std::uint64_t hash(const Key& key) noexcept { return KeyHash{}(key); }

    // Room for `keys` keys before the table first grows: growing rehashes
    // every slot, a miss each once the table outgrows the caches.
    void reserve(std::size_t keys) {
        std::size_t size = 1024;
        while (size < 2 * keys) size *= 2;
        if (size > slots_.size()) rehash(size);
        keys_.reserve(keys);
    }

    // Asks the memory for the slot where a key of `hash` would start its
    // probe, so that a caller looking up keys in a row hides the misses.
    void prefetch(std::uint64_t hash) const noexcept {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    }

    // The id of `key` (whose hash is `hash`): the number of keys before it,
    // new keys included. A new key is added only when `accept` (called with
    // it) says so; otherwise the answer is NOT_ADDED and nothing changes.
    template <class Accept>
    std::uint32_t id_of(const Key& key, std::uint64_t hash, Accept&& accept) {
        if (2 * (keys_.size() + 1) > slots_.size()) grow();
        const std::uint32_t check = check_of(key, hash);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (slot.id_plus_one == 0) {
                if (!accept(key)) return NOT_ADDED;
                keys_.push_back(key);
                slot = {static_cast<std::uint32_t>(keys_.size()), check};
                return slot.id_plus_one - 1;
            }
            if (slot.check == check && (KEY_IS_CHECK || keys_[slot.id_plus_one - 1] == key)) {
                return slot.id_plus_one - 1;
            }
        }
    }

    // The key of `id`, which id_of() gave.
    const Key& key(std::uint32_t id) const { return keys_[id]; }

    // Holds `key` for the key of `id`, which equals it: a view of text that
    // outlives the one the key was first looked up with.
    void rekey(std::uint32_t id, const Key& key) { keys_[id] = key; }

    std::size_t size() const noexcept { return keys_.size(); }

    // Gives back the keys, leaving the table empty.
    std::vector<Key> take_keys() {
        slots_ = {};
        return std::move(keys_);
    }

  private:
    // A 32-bit key is its own check, so that a probe never reads the keys.
    // Any other key's check is the low half of its hash, which also chooses
    // the first slot of its probe (a table has fewer than 2^32 slots): kept
    // here, it spares the comparisons with most other keys and the hashing
    // of every key when the table grows.
    static constexpr bool KEY_IS_CHECK = std::is_same_v<Key, std::uint32_t>;

    static std::uint32_t check_of(const Key& key, std::uint64_t hash) noexcept {
        if constexpr (KEY_IS_CHECK) {
            return key;
        } else {
            return static_cast<std::uint32_t>(hash);
        }
    }

    std::uint64_t slot_hash(std::uint32_t check) const noexcept {
        if constexpr (KEY_IS_CHECK) {
            return hash(check);
        } else {
            return check;
        }
    }

    struct Slot {
        std::uint32_t id_plus_one = 0;  // 0: empty
        std::uint32_t check = 0;
    };

    void grow() { rehash(slots_.empty() ? 1024 : 2 * slots_.size()); }

    void rehash(std::size_t size) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(size, Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.id_plus_one == 0) continue;
            std::size_t at = slot_hash(slot.check) & mask;
            while (slots_[at].id_plus_one != 0) at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::vector<Key> keys_;
};

// Dense ids for 32-bit keys up to a bound known ahead, in order of first
// appearance: an array indexed by key. Where the keys are dense it is a few
// times smaller than IdTable's slots, and a lookup is one read of it.
class DirectIds {
  public:
    DirectIds() = default;

    // For keys up to `largest` (below 2^32 - 1).
    explicit DirectIds(std::uint32_t largest) : ids_plus_one_(std::size_t{largest} + 1, 0) {}

    bool empty() const noexcept { return ids_plus_one_.empty(); }

    void prefetch(std::uint32_t key) const noexcept {
        if (key < ids_plus_one_.size()) __builtin_prefetch(&ids_plus_one_[key]);
    }

    // The id of `key`; InternalFailure when it is beyond the largest.
    std::uint32_t id_of(std::uint32_t key) {
        if (key >= ids_plus_one_.size()) fail_index_out_of_bounds(ids_plus_one_.size(), key);
        std::uint32_t& id_plus_one = ids_plus_one_[key];
        if (id_plus_one == 0) {
            keys_.push_back(key);
            id_plus_one = static_cast<std::uint32_t>(keys_.size());
        }
        return id_plus_one - 1;
    }

    // Gives back the keys, leaving the table empty.
    std::vector<std::uint32_t> take_keys() {
        ids_plus_one_ = {};
        return std::move(keys_);
    }

  private:
    std::vector<std::uint32_t> ids_plus_one_;  // 0: not seen yet
    std::vector<std::uint32_t> keys_;
};

}  // namespace kelnor::columns
