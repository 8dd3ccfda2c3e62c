// The core's part of a query, run without the interpreter lock.
//
// A method converts its arguments with the lock held, runs the core through
// without_interpreter_lock(), and builds its result once the lock is back, so
// that other threads run Python, or other queries, meanwhile:
//
//     const auto hits = without_interpreter_lock(
//         [&](const InterruptCheck& interrupt) { return core_query(..., interrupt); });
//
// The core touches no Python object and an index never changes, so nothing
// the core reads can change under it; the receiver's borrow keeps the index
// alive. The core hands control back only through the InterruptCheck, which
// takes the lock back for the moment of running the signal handlers, and
// only in the main thread, the one thread where Python runs them: elsewhere
// it never waits for the lock. Whatever the core throws (Interrupted after a
// handler raised, InternalFailure, std::bad_alloc) leaves the scope with the
// lock held again, so call_guarded() raises it as ever.
#pragma once

#include <Python.h>

#include <type_traits>

#include "kelnor.hpp"

namespace kelnor::py {

// PyEval_RestoreThread(state); a thread that the ending interpreter ends
// there waits for the process to end instead (see lock_release.cpp).
void take_lock_back(PyThreadState* state);

// The interpreter lock given up for a scope by the calling thread.
class LockRelease {
  public:
    LockRelease();
    ~LockRelease();
    LockRelease(const LockRelease&) = delete;
    LockRelease& operator=(const LockRelease&) = delete;

    // The check to hand to the core while the lock is released.
    InterruptCheck interrupt_check() noexcept { return {signal_handler_raised, this}; }

    // What `held` gives, worked out with the lock taken back for the moment,
    // on the thread that released it; `held` must not throw.
    template <class Held>
    auto holding_lock(Held&& held) noexcept {
        take_lock_back(thread_state_);
        const auto result = held();
        thread_state_ = PyEval_SaveThread();
        return result;
    }

  private:
    // Runs the signal handlers under the lock when this is the main thread.
    static bool signal_handler_raised(void* release);

    // Found out before the lock is given up (asking may raise): declared first.
    bool runs_signal_handlers_;
    PyThreadState* thread_state_;
};

// What `work` gives, worked out without the lock: handed the InterruptCheck
// when it takes one (a query, a build from columns), called with nothing
// otherwise (work that does not stop halfway).
template <class Work>
auto without_interpreter_lock(Work&& work) {
    LockRelease release;
    if constexpr (std::is_invocable_v<Work&, const InterruptCheck&>) {
        return work(release.interrupt_check());
    } else {
        return work();
    }
}

}  // namespace kelnor::py
