// The batch runner against a loop: every input answered once, at its own
// position, on any number of threads; the earliest failure kept whichever
// thread meets it and whether thrown or returned; a host's stop ends every
// worker.
#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "check.hpp"
#include "queries/batch_runner.hpp"

namespace kelnor::core_test {
namespace {

KELNOR_TEST(batch_answers_every_input_once_in_place) {
    for (const std::size_t threads : {1u, 2u, 3u, 8u}) {
        for (const std::size_t count : {0u, 1u, 7u, 5000u}) {
            std::vector<std::size_t> answers(count, 0);
            std::vector<std::atomic<int>> visits(count);
            const BatchOutcome outcome =
                run_batch(count, threads, {}, [&](std::size_t k, const InterruptCheck&) {
                    answers[k] = k * k;
                    visits[k].fetch_add(1);
                    return true;
                });
            CHECK(!outcome.interrupted);
            CHECK(!outcome.failed_at);
            for (std::size_t k = 0; k < count; ++k) {
                CHECK_EQ(answers[k], k * k);
                CHECK_EQ(visits[k].load(), 1);
            }
        }
    }
}

KELNOR_TEST(batch_keeps_the_earliest_failure_thrown_or_returned) {
    for (const std::size_t threads : {1u, 2u, 4u}) {
        for (const bool thrown : {false, true}) {
            // Inputs 3000 and 900 fail; the later one is often met first.
            std::vector<std::atomic<int>> visits(4000);
            const BatchOutcome outcome =
                run_batch(4000, threads, {}, [&](std::size_t k, const InterruptCheck&) {
                    visits[k].fetch_add(1);
                    if (k != 3000 && k != 900) return true;
                    if (thrown) throw std::runtime_error("input " + std::to_string(k));
                    return false;
                });
            CHECK(!outcome.interrupted);
            CHECK(outcome.failed_at == std::optional<std::size_t>(900));
            CHECK_EQ(outcome.failure != nullptr, thrown);
            for (std::size_t k = 0; k <= 900; ++k) CHECK_EQ(visits[k].load(), 1);
            if (thrown) {
                try {
                    std::rethrow_exception(outcome.failure);
                } catch (const std::runtime_error& failure) {
                    CHECK_EQ(std::string(failure.what()), std::string("input 900"));
                }
            }
        }
    }
}

// A host that says stop on its third question.
bool third_time(void* asked) {
    return ++*static_cast<int*>(asked) == 3;
}

KELNOR_TEST(batch_stops_every_worker_when_the_host_says_stop) {
    for (const std::size_t threads : {1u, 2u, 4u}) {
        int asked = 0;
        const InterruptCheck host{third_time, &asked};
        std::atomic<std::size_t> answered{0};
        // Each input polls like a walk until told to stop: only the host's
        // stop ends the batch.
        const BatchOutcome outcome =
            run_batch(1000, threads, host, [&](std::size_t, const InterruptCheck& interrupt) {
                while (!interrupt()) {
                }
                answered.fetch_add(1);
                throw Interrupted();
                return true;
            });
        CHECK(outcome.interrupted);
        CHECK(!outcome.failed_at);
        CHECK_EQ(asked, 3);
        CHECK(answered.load() <= threads);
    }
}

KELNOR_TEST(batch_threads_follow_the_request_within_bounds) {
    CHECK_EQ(batch_threads(1, 100), 1u);
    CHECK_EQ(batch_threads(4, 3), 3u);
    CHECK_EQ(batch_threads(4, 0), 1u);
    CHECK_EQ(batch_threads(100000, 100000), MOST_BATCH_WORKERS);
    CHECK(batch_threads(0, 1000) >= 1);
}

}  // namespace
}  // namespace kelnor::core_test
