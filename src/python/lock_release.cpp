#include "python/lock_release.hpp"

#include <pthread.h>

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

}  // namespace

LockRelease::LockRelease()
    // The ident is unsigned long in CPython and long in PyPy.
    : runs_signal_handlers_(static_cast<unsigned long>(PyThread_get_thread_ident()) ==
                            main_thread()),
      thread_state_(PyEval_SaveThread()) {}

LockRelease::~LockRelease() {
    PyEval_RestoreThread(thread_state_);
}

bool LockRelease::signal_handler_raised(void* release) {
    auto& self = *static_cast<LockRelease*>(release);
    if (!self.runs_signal_handlers_) return false;
    PyEval_RestoreThread(self.thread_state_);
    const bool raised = PyErr_CheckSignals() != 0;
    self.thread_state_ = PyEval_SaveThread();
    return raised;
}

}  // namespace kelnor::py
