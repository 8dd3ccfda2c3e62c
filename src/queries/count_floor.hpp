// The least count that a best-first search for the `wanted` best terms can
// still need.
//
// Each entry of the search's queue (a node with its best count below, or a
// term with its count) stands for at least one term of that count that the
// queue will yield, a different one for each entry, as long as its count is
// exact. The floor keeps the `wanted` greatest of those sure counts: once it
// holds that many, an entry whose count is below all of them can only yield
// terms that rank after `wanted` others, and need not be queued at all.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "index/trie/term_counts.hpp"

namespace kelnor {

class CountFloor {
  public:
    // Above this many wanted terms the floor is not kept: the search then
    // queues every entry.
    static constexpr std::size_t MOST_WANTED = 64;

    // Starts over for a search that wants `wanted` more terms (0: no floor).
    void reset(std::size_t wanted) {
        wanted_ = wanted <= MOST_WANTED ? wanted : 0;
        sure_.clear();
    }

    // An entry sure to yield a term of `count` was queued.
    void add(TermCount count) {
        if (wanted_ == 0) return;
        if (sure_.size() < wanted_) {
            sure_.push_back(count);
            std::push_heap(sure_.begin(), sure_.end(), std::greater<>{});
        } else if (count > sure_.front()) {
            std::pop_heap(sure_.begin(), sure_.end(), std::greater<>{});
            sure_.back() = count;
            std::push_heap(sure_.begin(), sure_.end(), std::greater<>{});
        }
    }

    // A term came out; when `sure`, its count was added (by its own entry or
    // an ancestor's) and no longer stands for a term still to come.
    void took(TermCount count, bool sure) {
        if (wanted_ == 0) return;
        --wanted_;
        if (sure) forget(count);
        while (sure_.size() > wanted_) {
            std::pop_heap(sure_.begin(), sure_.end(), std::greater<>{});
            sure_.pop_back();
        }
    }

    // An entry added with `count` turned out to stand for no term.
    void forget(TermCount count) {
        const auto at = std::find(sure_.begin(), sure_.end(), count);
        if (at == sure_.end()) return;
        *at = sure_.back();
        sure_.pop_back();
        std::make_heap(sure_.begin(), sure_.end(), std::greater<>{});
    }

    // Whether nothing of `count` or less can be needed any more.
    bool above(TermCount count) const {
        return wanted_ > 0 && sure_.size() == wanted_ && count < sure_.front();
    }

  private:
    std::size_t wanted_ = 0;
    std::vector<TermCount> sure_;  // a min-heap of at most wanted_ counts
};

}  // namespace kelnor
