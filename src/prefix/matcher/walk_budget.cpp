#include "prefix/matcher/walk_budget.hpp"

#include <string>

namespace kelnor {

void WalkBudget::checkpoint() {
    if (left_ == 0) {
        throw WalkBudgetSpent("the walk used up its budget of " + std::to_string(visits_) +
                              " visits: the child lists reach some node by more than one path");
    }
    if (interrupt_()) throw Interrupted();
    countdown_ = next_countdown();
}

}  // namespace kelnor
