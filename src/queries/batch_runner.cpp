#include "queries/batch_runner.hpp"

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <memory>
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

// While it answers, the calling thread reads the clock at every this many
// checks: a short query checks once or twice, and a clock read at each took
// a twentieth of what a batch spends besides its queries; sixteen checks
// take well under a millisecond, even when they are the polls of one walk.
constexpr unsigned CHECKS_PER_CLOCK_READ = 16;

// Inputs a worker takes at a time: enough that the shared counter is touched
// rarely, few enough that the workers end together (a worker's last chunk is
// a sliver of its share).
constexpr std::size_t LARGEST_CHUNK = 64;
constexpr std::size_t CHUNKS_PER_THREAD = 64;

constexpr std::size_t NO_FAILURE = std::numeric_limits<std::size_t>::max();
constexpr std::size_t NO_CHUNK = std::numeric_limits<std::size_t>::max();

class Batch {
  public:
    Batch(std::size_t count, std::size_t threads, const InterruptCheck& host,
          const BatchQuery& answer, const BatchConsumer& consume, const BatchRelease& release)
        : count_(count),
          chunk_(std::clamp<std::size_t>(count / (threads * CHUNKS_PER_THREAD), 1, LARGEST_CHUNK)),
          chunks_((count + chunk_ - 1) / chunk_),
          host_(host),
          answer_(answer),
          consume_(consume),
          release_(release),
          answered_(std::make_unique<std::atomic<bool>[]>(chunks_)),
          consumed_(std::make_unique<std::atomic<bool>[]>(chunks_)),
          answered_here_(std::make_unique<bool[]>(chunks_)),
          last_host_poll_(Clock::now()) {
        // Room for every thread first: a thread started is always joined.
        threads_.reserve(threads);
    }

    // Whether a worker thread started; false when the system has none to give.
    bool start_worker() {
        try {
            threads_.emplace_back([this] { work(worker_check()); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    // The calling thread: hands on each chunk once it is answered, in
    // order. While the next one is not, it answers the next chunk no thread
    // has taken, rather than sleep while a worker runs in its place, and it
    // waits only when every chunk is taken. Alone, it answers each chunk in
    // turn and hands it on. A chunk handed on whole is released here when
    // this thread answered it, else by the worker that did.
    void answer_and_consume_in_order() {
        const InterruptCheck check = calling_thread_check();
        for (std::size_t chunk = 0; chunk < chunks_; ++chunk) {
            if (!answer_until_answered(chunk, check) || !consume_chunk(chunk)) break;
            if (answered_here_[chunk]) {
                release_chunk(chunk);
            } else {
                consumed_[chunk].store(true, std::memory_order_release);
            }
        }
        // Past a failure or a stop, the workers' remaining chunks are not needed.
        stop_.store(true);
    }

    BatchOutcome finish() {
        for (std::thread& thread : threads_) thread.join();
        // What the workers answered last, consumed after they ended or
        // beyond what they held.
        for (std::size_t chunk = 0; chunk < chunks_; ++chunk) release_if_consumed(chunk);
        BatchOutcome outcome;
        outcome.interrupted = interrupted_;
        outcome.consumer_stopped = consumer_stopped_;
        if (!interrupted_ && failed_at_ != NO_FAILURE) {
            outcome.failed_at = failed_at_;
            outcome.failure = failure_;
        }
        return outcome;
    }

  private:
    // The calling thread's check while it answers: the host's, at most every
    // HOST_POLL_INTERVAL, the clock read now and then.
    InterruptCheck calling_thread_check() noexcept { return {ask_host_now_and_then, this}; }
    // A worker's check: whether the batch is stopped.
    InterruptCheck worker_check() noexcept { return {stopped, this}; }

    // A worker: answers chunks until none is left, and after each lets go of
    // those it answered that are consumed by then.
    void work(const InterruptCheck& check) {
        HeldChunks held;
        for (;;) {
            const std::size_t chunk = answer_next_free_chunk(check);
            if (chunk >= chunks_) return;
            bool awaited = false;
            {
                const std::lock_guard lock(mutex_);
                answered_[chunk].store(true, std::memory_order_release);
                awaited = chunk == awaited_;
            }
            if (awaited) chunk_answered_.notify_one();
            // Past its room a chunk is left to finish().
            if (held.count < held.chunks.size()) held.chunks[held.count++] = chunk;
            release_consumed(held);
        }
    }

    // The chunks a worker answered and has not released yet: most often one
    // or two, the calling thread consuming close behind the workers.
    struct HeldChunks {
        std::array<std::size_t, 16> chunks;
        std::size_t count = 0;
    };

    // Releases the chunks of `held` that the calling thread has consumed,
    // keeping the others.
    void release_consumed(HeldChunks& held) {
        std::size_t kept = 0;
        for (std::size_t k = 0; k < held.count; ++k) {
            const std::size_t chunk = held.chunks[k];
            if (!release_if_consumed(chunk)) held.chunks[kept++] = chunk;
        }
        held.count = kept;
    }

    // A worker's chunk, once consumed, is released once: its mark is taken
    // back, by the worker or, after the workers end, by the calling thread.
    bool release_if_consumed(std::size_t chunk) {
        if (!consumed_[chunk].load(std::memory_order_acquire)) return false;
        consumed_[chunk].store(false, std::memory_order_relaxed);
        release_chunk(chunk);
        return true;
    }

    void release_chunk(std::size_t chunk) {
        if (release_) release_(chunk * chunk_, std::min((chunk + 1) * chunk_, count_));
    }

    // False when the batch stopped first. The calling thread answers the
    // chunks no worker has taken yet until `chunk` is answered, or waits for
    // it once all are taken.
    bool answer_until_answered(std::size_t chunk, const InterruptCheck& check) {
        // Asked between chunks too: when the workers are ahead of the
        // conversion, every chunk is answered before this thread reaches it,
        // and nothing else here would ask the host until the last one.
        if (ask_host(this)) return false;
        while (!answered_[chunk].load(std::memory_order_acquire)) {
            const std::size_t taken = answer_next_free_chunk(check);
            if (taken >= chunks_) return wait_until_answered(chunk);
            // No thread waits for a chunk of the calling thread's own.
            answered_[taken].store(true, std::memory_order_release);
            answered_here_[taken] = true;
            if (stop_.load()) return false;
        }
        return true;
    }

    // Takes the next chunk that no thread has taken and answers it; returns
    // it, or chunks_ or more once every chunk is taken.
    std::size_t answer_next_free_chunk(const InterruptCheck& check) {
        const std::size_t chunk = next_chunk_.fetch_add(1, std::memory_order_relaxed);
        if (chunk < chunks_) answer_chunk(chunk, check);
        return chunk;
    }

    // Answers the chunk's inputs, up to the earliest failure or a stop.
    void answer_chunk(std::size_t chunk, const InterruptCheck& check) {
        const std::size_t end = std::min((chunk + 1) * chunk_, count_);
        for (std::size_t input = chunk * chunk_; input < end; ++input) {
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

    // False when the batch stopped first. The calling thread waits only once
    // every chunk is taken, for the few that workers are still answering.
    bool wait_until_answered(std::size_t chunk) {
        std::unique_lock lock(mutex_);
        awaited_ = chunk;
        while (!answered_[chunk].load(std::memory_order_acquire)) {
            chunk_answered_.wait_for(lock, HOST_POLL_INTERVAL);
            lock.unlock();
            const bool stop = ask_host(this);
            lock.lock();
            if (stop) return false;
        }
        return true;
    }

    // Hands on the chunk's answers up to a failure among them; false when the
    // batch ends here (a stop, a failure, the consumer's refusal).
    bool consume_chunk(std::size_t chunk) {
        if (stop_.load()) return false;  // its inputs may be unanswered
        const std::size_t begin = chunk * chunk_;
        const std::size_t end = std::min(begin + chunk_, count_);
        // A failure within the chunk was recorded before the chunk was marked
        // answered; one in an earlier chunk ended the batch there.
        const std::size_t stop_at = std::min(end, first_failure_.load(std::memory_order_acquire));
        if (begin < stop_at && !consume_(begin, stop_at)) {
            consumer_stopped_ = true;
            return false;
        }
        return stop_at == end;
    }

    static bool stopped(void* batch) { return static_cast<Batch*>(batch)->stop_.load(); }

    static bool ask_host_now_and_then(void* context) {
        auto& batch = *static_cast<Batch*>(context);
        if (++batch.checks_since_clock_read_ < CHECKS_PER_CLOCK_READ) return batch.stop_.load();
        batch.checks_since_clock_read_ = 0;
        return ask_host(context);
    }

    static bool ask_host(void* context) {
        auto& batch = *static_cast<Batch*>(context);
        if (batch.stop_.load()) return true;
        const Clock::time_point now = Clock::now();
        if (now - batch.last_host_poll_ < HOST_POLL_INTERVAL) return false;
        batch.last_host_poll_ = now;
        if (!batch.host_()) return false;
        batch.interrupted_ = true;
        batch.stop_.store(true);
        return true;
    }

    // Keeps the failure of the earliest input: later inputs are not started,
    // earlier ones still run, so the earliest failure is found.
    void fail(std::size_t input, std::exception_ptr failure) {
        const std::lock_guard lock(failure_mutex_);
        if (input >= failed_at_) return;
        failed_at_ = input;
        failure_ = std::move(failure);
        first_failure_.store(input, std::memory_order_release);
    }

    const std::size_t count_;
    const std::size_t chunk_;
    const std::size_t chunks_;
    const InterruptCheck& host_;
    const BatchQuery& answer_;
    const BatchConsumer& consume_;
    const BatchRelease& release_;
    std::unique_ptr<std::atomic<bool>[]> answered_;
    // Set by the calling thread once it consumed a worker's chunk whole,
    // cleared when the chunk is released.
    std::unique_ptr<std::atomic<bool>[]> consumed_;
    // The calling thread's alone: the chunks it answered itself.
    std::unique_ptr<bool[]> answered_here_;
    std::atomic<std::size_t> next_chunk_{0};
    std::atomic<std::size_t> first_failure_{NO_FAILURE};
    std::atomic<bool> stop_{false};
    // The calling thread's alone.
    Clock::time_point last_host_poll_;
    unsigned checks_since_clock_read_ = 0;
    bool interrupted_ = false;
    bool consumer_stopped_ = false;
    std::vector<std::thread> threads_;
    // mutex_ pairs the chunks' marks with the calling thread's wait, and
    // guards awaited_: the chunk whose mark wakes it.
    std::mutex mutex_;
    std::condition_variable chunk_answered_;
    std::size_t awaited_ = NO_CHUNK;
    // Guarded by failure_mutex_.
    std::mutex failure_mutex_;
    std::size_t failed_at_ = NO_FAILURE;
    std::exception_ptr failure_;
};

// The cores this process may run on: those of its affinity mask (a container
// or `taskset` may give it fewer than the machine has), else the machine's.
std::size_t usable_cores() noexcept {
#if defined(__linux__)
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return static_cast<std::size_t>(std::max(1, CPU_COUNT(&cores)));
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

std::size_t batch_threads(std::size_t workers, std::size_t inputs) noexcept {
    if (workers == 0) workers = usable_cores();
    return std::max<std::size_t>(1, std::min({workers, inputs, MOST_BATCH_WORKERS}));
}

BatchOutcome run_batch(std::size_t count, std::size_t threads, const InterruptCheck& host,
                       const BatchQuery& answer, const BatchConsumer& consume,
                       const BatchRelease& release) {
    Batch batch(count, threads, host, answer, consume, release);
    std::size_t running = 1;  // the calling thread
    while (running < threads && batch.start_worker()) ++running;
    batch.answer_and_consume_in_order();
    return batch.finish();
}

}  // namespace kelnor
