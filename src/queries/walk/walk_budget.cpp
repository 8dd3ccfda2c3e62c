#include "queries/walk/walk_budget.hpp"

#include <string>

namespace kelnor {

void WalkBudget::checkpoint() {
    if (left_ == 0) fail_spent();
    if (interrupt_()) throw Interrupted();
    countdown_ = next_countdown();
}

void WalkBudget::spend_past_countdown(std::uint64_t units) {
    // The countdown reaches 0 on the way: what is beyond it comes from the
    // units not yet in a countdown, and the check then runs as at any 0.
    const std::uint64_t beyond = units - countdown_;
    if (beyond > left_) fail_spent();
    left_ -= beyond;
    checkpoint();
}

void WalkBudget::fail_spent() const {
    throw WalkBudgetSpent(std::string(scale_.spender) + " used up its budget of " +
                          std::to_string(units_) + " " + scale_.units + ": " + scale_.cause);
}

}  // namespace kelnor
