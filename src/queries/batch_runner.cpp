#include "queries/batch_runner.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kelnor {
namespace {

using Clock = std::chrono::steady_clock;

// How often the calling thread asks the host: a signal stops a batch within
// a few milliseconds, and the host's check (which takes a lock) costs nothing
// next to the queries run meanwhile.
constexpr auto HOST_POLL_INTERVAL = std::chrono::milliseconds(2);

// Inputs a worker takes at a time: enough that the shared counter is touched
// rarely, few enough that the workers end together (a worker's last chunk is
// a sliver of its share).
constexpr std::size_t LARGEST_CHUNK = 64;
constexpr std::size_t CHUNKS_PER_THREAD = 64;

constexpr std::size_t NO_FAILURE = std::numeric_limits<std::size_t>::max();

class Batch {
  public:
    Batch(std::size_t count, std::size_t threads, const InterruptCheck& host,
          const BatchQuery& answer)
        : count_(count),
          chunk_(std::clamp<std::size_t>(count / (threads * CHUNKS_PER_THREAD), 1, LARGEST_CHUNK)),
          host_(host),
          answer_(answer),
          last_host_poll_(Clock::now()) {
        // Room for every thread first: a thread started is always joined.
        threads_.reserve(threads);
    }

    // The calling thread's check: the host's, at most every HOST_POLL_INTERVAL.
    InterruptCheck calling_thread_check() noexcept { return {ask_host, this}; }
    // Another worker's check: whether the host said stop.
    InterruptCheck worker_check() noexcept { return {stopped, this}; }

    void work(const InterruptCheck& check) {
        for (;;) {
            const std::size_t begin = next_.fetch_add(chunk_, std::memory_order_relaxed);
            if (begin >= count_) return;
            const std::size_t end = std::min(begin + chunk_, count_);
            for (std::size_t input = begin; input < end; ++input) {
                if (input >= first_failure_.load(std::memory_order_relaxed) || check()) return;
                try {
                    if (!answer_(input, check)) fail(input, nullptr);
                } catch (const Interrupted&) {
                    return;
                } catch (...) {
                    fail(input, std::current_exception());
                }
            }
        }
    }

    void start_worker() {
        threads_.emplace_back([this] {
            work(worker_check());
            const std::lock_guard lock(mutex_);
            ++finished_;
            all_finished_.notify_one();
        });
    }

    // After the calling thread's own work: waits for the others, asking the
    // host meanwhile, and joins them.
    BatchOutcome finish() {
        std::unique_lock lock(mutex_);
        while (finished_ < threads_.size()) {
            all_finished_.wait_for(lock, HOST_POLL_INTERVAL);
            lock.unlock();
            ask_host(this);
            lock.lock();
        }
        lock.unlock();
        for (std::thread& thread : threads_) thread.join();
        BatchOutcome outcome;
        outcome.interrupted = interrupted_;
        if (!interrupted_ && failed_at_ != NO_FAILURE) {
            outcome.failed_at = failed_at_;
            outcome.failure = failure_;
        }
        return outcome;
    }

  private:
    static bool stopped(void* batch) {
        return static_cast<Batch*>(batch)->stop_.load(std::memory_order_relaxed);
    }

    static bool ask_host(void* context) {
        auto& batch = *static_cast<Batch*>(context);
        if (batch.stop_.load(std::memory_order_relaxed)) return true;
        const Clock::time_point now = Clock::now();
        if (now - batch.last_host_poll_ < HOST_POLL_INTERVAL) return false;
        batch.last_host_poll_ = now;
        if (!batch.host_()) return false;
        batch.interrupted_ = true;
        batch.stop_.store(true, std::memory_order_relaxed);
        return true;
    }

    // Keeps the failure of the earliest input: later inputs are not started,
    // earlier ones still run, so the earliest failure is found.
    void fail(std::size_t input, std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        if (input >= failed_at_) return;
        failed_at_ = input;
        failure_ = std::move(failure);
        first_failure_.store(input, std::memory_order_relaxed);
    }

    const std::size_t count_;
    const std::size_t chunk_;
    const InterruptCheck& host_;
    const BatchQuery& answer_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> first_failure_{NO_FAILURE};
    std::atomic<bool> stop_{false};
    // The calling thread's alone.
    Clock::time_point last_host_poll_;
    bool interrupted_ = false;
    std::vector<std::thread> threads_;
    // Guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable all_finished_;
    std::size_t finished_ = 0;
    std::size_t failed_at_ = NO_FAILURE;
    std::exception_ptr failure_;
};

}  // namespace

std::size_t batch_threads(std::size_t workers, std::size_t inputs) noexcept {
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    return std::max<std::size_t>(1, std::min({workers, inputs, MOST_BATCH_WORKERS}));
}

BatchOutcome run_batch(std::size_t count, std::size_t threads, const InterruptCheck& host,
                       const BatchQuery& answer) {
    Batch batch(count, threads, host, answer);
    for (std::size_t started = 1; started < threads; ++started) {
        try {
            batch.start_worker();
        } catch (const std::system_error&) {
            break;  // the threads started share the work
        }
    }
    batch.work(batch.calling_thread_check());
    return batch.finish();
}

}  // namespace kelnor
