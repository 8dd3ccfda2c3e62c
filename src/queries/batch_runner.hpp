// Running one query per input over many inputs on several threads: the
// batch calls of the binding, which answer a day's query log in one call.
//
// The inputs are cut into chunks, which the threads take one at a time from
// a shared counter, each answer written at its input's position. The calling
// thread is one of them: it hands the answered chunks, in input order, to the
// consumer (the binding turns them into the caller's objects, which only the
// calling thread may do), and while the next chunk in order is still being
// answered it answers one itself, so that the conversion of the answers runs
// beside the queries and no thread sleeps while another takes its core.
// Each consumed answer is then let go of by the thread that answered it. The
// calling thread alone asks the host's InterruptCheck (the binding's takes
// the interpreter lock for the moment of the signal handlers), at most once
// every few milliseconds: between chunks, in its own walks' polls and while
// it waits for the last chunks. When the host says stop, every worker stops
// at its next input or poll.
//
// A failure is a value: the first input (in input order) whose query threw or
// reported a failure, and what it threw. The inputs before it are all
// answered and consumed, so the caller raises exactly what a loop of single
// calls would.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>

#include "base/interrupt_check.hpp"

namespace kelnor {

// The most threads a batch starts: more than any machine it runs on has
// cores, and few enough that a mistaken count starts no thread storm.
inline constexpr std::size_t MOST_BATCH_WORKERS = 256;

struct BatchOutcome {
    // The host's check said stop (the host's error is already recorded).
    bool interrupted = false;
    // The consumer said stop (its failure is its own to report).
    bool consumer_stopped = false;
    // The first input whose query failed, when one did before an interrupt.
    std::optional<std::size_t> failed_at;
    // What that query threw; null when it returned its failure as a value.
    std::exception_ptr failure;
};

// Answers input k by calling `answer(k, interrupt)`, which stores the answer
// and returns false when the answer is a failure (its value says which). The
// InterruptCheck handed to it is the one its walks must poll.
using BatchQuery = std::function<bool(std::size_t, const InterruptCheck&)>;

// Takes the answers of inputs begin to end - 1, all answered, on the calling
// thread and in input order; returns false to stop the batch.
using BatchConsumer = std::function<bool(std::size_t begin, std::size_t end)>;

// Lets go of the answers of inputs begin to end - 1, all consumed. It runs
// on the thread that answered them while that thread still runs (else on the
// calling thread once the workers are done), so that what a query allocated
// is freed by the thread that allocated it: an allocator with a heap per
// thread then frees it without taking another thread's lock, where freeing
// every answer on the calling thread kept two threads of short queries
// waiting on each other's heaps.
using BatchRelease = std::function<void(std::size_t begin, std::size_t end)>;

// How many threads a batch of `inputs` runs on for a request of `workers`
// (0: every core this process may run on): at least one, at most one per
// input and MOST_BATCH_WORKERS.
std::size_t batch_threads(std::size_t workers, std::size_t inputs) noexcept;

// Runs `answer` for inputs 0 to count - 1 on `threads` threads, the calling
// thread and threads - 1 workers (a thread the system cannot start leaves its
// share to the others), handing the answers to `consume`, then to `release`
// (each input's once, when the consumer took its whole chunk), and asking
// `host` from the calling thread.
BatchOutcome run_batch(std::size_t count, std::size_t threads, const InterruptCheck& host,
                       const BatchQuery& answer, const BatchConsumer& consume,
                       const BatchRelease& release = {});

}  // namespace kelnor
