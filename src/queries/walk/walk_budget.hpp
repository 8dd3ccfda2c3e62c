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
// loop pays one decrement and branch per visit for both. A search whose
// steps cost unequal work (a comparison of two paths costs their labels)
// counts in smaller units with spend(), on a scale of its own.
#pragma once

#include <algorithm>
#include <cstdint>

#include "base/internal_failure.hpp"
#include "base/interrupt_check.hpp"
#include "index/trie/trie.hpp"
#include "queries/walk/trie_walk.hpp"
#include "queries/walk/walk_codegen.hpp"

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

// The size of a budget, in units of its own, and the words of its failure:
// "<spender> used up its budget of N <units>: <cause>".
struct BudgetScale {
    std::uint64_t per_entry;
    std::uint64_t beyond;
    const char* spender;
    const char* units;
    const char* cause;
};

inline constexpr BudgetScale WALK_SCALE{VISITS_PER_ENTRY, VISITS_BEYOND, "the walk", "visits",
                                        "the child lists reach some node by more than one path"};
// A few thousand visits of the fast walk take a fraction of a millisecond.
inline constexpr std::uint32_t VISITS_BETWEEN_CHECKS = 4096;

// The entries of node_shifts and child_transitions: the size by which a
// walk's work is measured.
inline std::uint64_t child_list_entries(const Trie& trie) {
    return std::uint64_t{trie.node_shifts.size()} + trie.child_transitions.size();
}

// What a reporter that spells or costs each hit's text spends: the labels of
// the texts, past (query length + bound + 1) for each entry of the child
// lists plus VISITS_BEYOND. A reported node lies at most the query's length
// plus the bound deep, and on a tree it is reported once, so a tree never
// reaches this budget; child lists that reach a node by many paths would
// have every path's text spelled, each as long as the query.
inline constexpr BudgetScale SPELLING_SCALE{
    1, VISITS_BEYOND, "the walk", "labels spelled",
    "the child lists reach some node by more than one path"};

class WalkBudget {
  public:
    // Asks `interrupt` after every `units_between_checks` units (at least 1).
    WalkBudget(const Trie& trie, const InterruptCheck& interrupt,
               std::uint32_t units_between_checks, const BudgetScale& scale = WALK_SCALE)
        : WalkBudget(child_list_entries(trie), interrupt, units_between_checks, scale) {}

    // For work measured by more of the index than its child lists.
    WalkBudget(std::uint64_t index_entries, const InterruptCheck& interrupt,
               std::uint32_t units_between_checks, const BudgetScale& scale)
        : units_(scale.per_entry * index_entries + scale.beyond),
          interrupt_(interrupt),
          between_checks_(std::max<std::uint32_t>(units_between_checks, 1)),
          scale_(scale) {
        countdown_ = next_countdown();
    }

    // Counts one visit (one unit). Raises WalkBudgetSpent when the budget is
    // spent, and Interrupted when the host's check says stop.
    KELNOR_WALK_INLINE void visit() {
        if (--countdown_ == 0) [[unlikely]]
            checkpoint();
    }

    // Counts `units` at once, as that many visits would.
    KELNOR_WALK_INLINE void spend(std::uint64_t units) {
        if (units < countdown_) [[likely]] {
            countdown_ -= static_cast<std::uint32_t>(units);
            return;
        }
        spend_past_countdown(units);
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
    [[gnu::noinline]] void spend_past_countdown(std::uint64_t units);
    [[noreturn]] void fail_spent() const;

    std::uint64_t units_;
    std::uint64_t left_ = units_;  // not yet in a countdown
    InterruptCheck interrupt_;
    std::uint32_t between_checks_;
    std::uint32_t countdown_;
    const BudgetScale& scale_;
};

// The SPELLING_SCALE budget of a query of `query_length` characters within
// `max_dist` (capped as the walk caps it).
inline WalkBudget spelling_budget(const Trie& trie, std::size_t query_length,
                                  std::uint32_t max_dist, const InterruptCheck& interrupt) {
    const std::uint64_t per_entry =
        std::uint64_t{query_length} + std::min(max_dist, MAX_DISTANCE_BOUND) + 1;
    const std::uint64_t entries = child_list_entries(trie);
    constexpr std::uint64_t MOST = std::uint64_t{1} << 62;
    return WalkBudget(entries > MOST / per_entry ? MOST : entries * per_entry, interrupt,
                      VISITS_BETWEEN_CHECKS, SPELLING_SCALE);
}

}  // namespace kelnor
