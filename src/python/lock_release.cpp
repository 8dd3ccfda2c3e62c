#include "python/lock_release.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "python/call_guard.hpp"

namespace kelnor::py {
namespace {

// The thread identifier of the interpreter's main thread, 0 until known.
// A forked child's main thread is the one that forked, so a fork forgets it.
std::atomic<unsigned long> main_thread_ident{0};

void forget_main_thread() noexcept {
    main_thread_ident.store(0, std::memory_order_relaxed);
}

// threading.main_thread().ident, asked once and again after a fork: Python
// itself tells no extension which thread that is.
unsigned long main_thread() {
    unsigned long known = main_thread_ident.load(std::memory_order_relaxed);
    if (known != 0) return known;
    static std::once_flag fork_watch;
    std::call_once(fork_watch, [] { pthread_atfork(nullptr, nullptr, forget_main_thread); });
    const PyRef threading = check(PyImport_ImportModule("threading"));
    const PyRef thread = check(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
    const PyRef ident = check(PyObject_GetAttrString(thread.get(), "ident"));
    known = PyLong_AsUnsignedLong(ident.get());
    if (known == static_cast<unsigned long>(-1) && PyErr_Occurred()) throw_python_error();
    main_thread_ident.store(known, std::memory_order_relaxed);
    return known;
}

// Waits for good when the thread is ended while it waits for the lock.
class WaitIfEnded {
  public:
    WaitIfEnded() = default;
    WaitIfEnded(const WaitIfEnded&) = delete;
    WaitIfEnded& operator=(const WaitIfEnded&) = delete;
    ~WaitIfEnded() {
        if (taken_) return;
        for (;;) pause();
    }
    void taken() noexcept { taken_ = true; }

  private:
    bool taken_ = false;
};

}  // namespace

// Once the interpreter is ending (the main thread has returned, say, while a
// daemon thread still queries), taking the lock back ends the calling thread
// with pthread_exit(), which unwinds its stack; through this module's frames
// (noexcept ones, the call guard's catch-all) that unwinding aborts the
// process. The first frame it unwinds is this one, whose cleanup waits for
// good instead, as every such thread waits from Python 3.14 on: the process
// ends around it, with the exit status the program gave.
void take_lock_back(PyThreadState* state) {
    WaitIfEnded wait_if_ended;
    PyEval_RestoreThread(state);
    wait_if_ended.taken();
}

LockRelease::LockRelease()
    // The ident is unsigned long in CPython and long in PyPy.
    : runs_signal_handlers_(static_cast<unsigned long>(PyThread_get_thread_ident()) ==
                            main_thread()),
      thread_state_(PyEval_SaveThread()) {}

LockRelease::~LockRelease() {
    take_lock_back(thread_state_);
}

bool LockRelease::signal_handler_raised(void* release) {
    auto& self = *static_cast<LockRelease*>(release);
    if (!self.runs_signal_handlers_) return false;
    take_lock_back(self.thread_state_);
    const bool raised = PyErr_CheckSignals() != 0;
    self.thread_state_ = PyEval_SaveThread();
    return raised;
}

}  // namespace kelnor::py
