// How a long call of the core lets its host stop it.
//
// The core knows nothing of the host's signals or locks: a walk asks an
// InterruptCheck every few thousand visits whether to stop. The host's
// function does whatever stopping needs (the binding runs the interpreter's
// signal handlers), and when it answers true it has already recorded why (the
// binding's Python exception is set); the core then unwinds with Interrupted,
// and the host turns that into its recorded error. The check is the only place
// where a walk hands control to the host, so a host may give up a lock for
// the length of the walk and take it back inside its check alone.
#pragma once

#include <cstdint>
#include <exception>

namespace kelnor {

struct InterruptCheck {
    // Whether to stop; called with `context`. Null: never stop.
    bool (*stop)(void* context) = nullptr;
    void* context = nullptr;

    bool operator()() const { return stop != nullptr && stop(context); }
};

// Thrown when an InterruptCheck answered true: the host's error is already set.
class Interrupted : public std::exception {
  public:
    const char* what() const noexcept override { return "interrupted by the host"; }
};

// An InterruptCheck asked once every `period` steps of a long loop (a build's
// rows, a sort's comparisons), so that each step pays one decrement and
// branch, and an interrupt still arrives within a fraction of a millisecond.
class InterruptPoll {
  public:
    static constexpr std::uint32_t DEFAULT_PERIOD = 1 << 14;

    explicit InterruptPoll(const InterruptCheck& check, std::uint32_t period = DEFAULT_PERIOD)
        : check_(check), period_(period), left_(period) {}

    // Throws Interrupted when this step is one that asks and the check says stop.
    void operator()() {
        if (--left_ != 0) return;
        left_ = period_;
        if (check_()) throw Interrupted();
    }

  private:
    const InterruptCheck& check_;
    std::uint32_t period_;
    std::uint32_t left_;
};

}  // namespace kelnor
