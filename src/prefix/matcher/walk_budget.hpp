// How far a walk may go, and when it asks its host whether to stop.
//
// On a tree a walk reads each child position at most once. Child lists that
// repeat nodes (a node with two parents, or a cycle: a damaged image, or
// arrays that the build accepted) reach a node by many paths, whose number
// can grow exponentially with the depth, so every walk counts its visits:
// past VISITS_PER_ENTRY for each entry of node_shifts and child_transitions
// plus VISITS_BEYOND, far above what a tree needs, it fails with
// WalkBudgetSpent (an InternalFailure) as on other damage. Answers within
// that budget stay as they are.
//
// The same countdown schedules the host's InterruptCheck, so that the hot
// loop pays one decrement and branch per visit for both.
#pragma once

#include <algorithm>
#include <cstdint>

#include "internal_failure.hpp"
#include "interrupt_check.hpp"
#include "prefix/matcher/walk_codegen.hpp"
#include "prefix/trie/trie.hpp"

namespace kelnor {

// What a walk past its budget raises: an InternalFailure like any damage,
// but one that a sound index (one that the build accepted) can meet too,
// when its children are shared.
class WalkBudgetSpent : public InternalFailure {
  public:
    using InternalFailure::InternalFailure;
};

inline constexpr std::uint64_t VISITS_PER_ENTRY = 64;
inline constexpr std::uint64_t VISITS_BEYOND = 1'000'000;
// A few thousand visits of the fast walk take a fraction of a millisecond.
inline constexpr std::uint32_t VISITS_BETWEEN_CHECKS = 4096;

class WalkBudget {
  public:
    // Asks `interrupt` after every `visits_between_checks` visits (at least 1).
    // A search that keeps something per visit passes a smaller
    // `visits_per_entry`, so that what it keeps stays a small multiple of the
    // index.
    WalkBudget(const Trie& trie, const InterruptCheck& interrupt,
               std::uint32_t visits_between_checks,
               std::uint64_t visits_per_entry = VISITS_PER_ENTRY)
        : visits_(visits_per_entry *
                      (std::uint64_t{trie.node_shifts.size()} + trie.child_transitions.size()) +
                  VISITS_BEYOND),
          interrupt_(interrupt),
          between_checks_(std::max<std::uint32_t>(visits_between_checks, 1)) {
        countdown_ = next_countdown();
    }

    // Counts one visit. Raises WalkBudgetSpent when the budget is spent, and
    // Interrupted when the host's check says stop.
    KELNOR_WALK_INLINE void visit() {
        if (--countdown_ == 0) [[unlikely]]
            checkpoint();
    }

  private:
    // Takes the next stretch of visits from those left.
    std::uint32_t next_countdown() {
        const auto stretch =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(between_checks_, left_));
        left_ -= stretch;
        return stretch;
    }

    [[gnu::noinline]] void checkpoint();

    std::uint64_t visits_;
    std::uint64_t left_ = visits_;  // not yet in a countdown
    InterruptCheck interrupt_;
    std::uint32_t between_checks_;
    std::uint32_t countdown_;
};

}  // namespace kelnor
