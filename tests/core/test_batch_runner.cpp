// The batch runner against a loop: every input answered once, at its own
// position, on any number of threads, and consumed once, in order, after it
// was answered; the earliest failure kept whichever thread meets it and
// whether thrown or returned, everything before it consumed; a host's or the
// consumer's stop ends every worker; the calling thread answers too; each
// answer consumed whole is let go of once, after its consumption.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "check.hpp"
#include "queries/batch_order.hpp"
#include "queries/batch_runner.hpp"

namespace kelnor::core_test {
namespace {

// A consumer that checks the inputs come whole, in order, once each, and
// counts them (where workers may read the count); it says stop once it has
// taken `until` inputs.
struct InOrder {
    std::atomic<std::size_t> consumed{0};
    std::size_t until = SIZE_MAX;
    BatchConsumer consumer() {
        return [this](std::size_t begin, std::size_t end) {
            CHECK_EQ(begin, consumed.load());
            CHECK(begin < end);
            consumed.store(end);
            return end < until;
        };
    }
};

// The release step's record: each input released at most once, after the
// consumer took it, on the thread that answered it or the calling thread.
struct Releases {
    explicit Releases(std::size_t count) : times(count), on(count), answered_on(count) {}
    std::vector<std::atomic<int>> times;
    std::vector<std::thread::id> on, answered_on;
    BatchRelease release(const InOrder& in_order) {
        return [this, &in_order](std::size_t begin, std::size_t end) {
            CHECK(end <= in_order.consumed.load());
            for (std::size_t k = begin; k < end; ++k) {
                CHECK(times[k].fetch_add(1) == 0);
                on[k] = std::this_thread::get_id();
            }
        };
    }
    // How many inputs from the first were released; none after them was.
    std::size_t released_prefix(std::thread::id calling_thread) const {
        std::size_t prefix = 0;
        while (prefix < times.size() && times[prefix].load() == 1) {
            CHECK(on[prefix] == answered_on[prefix] || on[prefix] == calling_thread);
            ++prefix;
        }
        for (std::size_t k = prefix; k < times.size(); ++k) CHECK_EQ(times[k].load(), 0);
        return prefix;
    }
};

KELNOR_TEST(batch_answers_every_input_once_in_place) {
    for (const std::size_t threads : {1u, 2u, 3u, 8u}) {
        for (const std::size_t count : {0u, 1u, 7u, 5000u}) {
            std::vector<std::size_t> answers(count, 0);
            std::vector<std::atomic<int>> visits(count);
            InOrder in_order;
            Releases releases(count);
            const BatchOutcome outcome = run_batch(
                count, threads, {},
                [&](std::size_t k, const InterruptCheck&) {
                    answers[k] = k * k;
                    visits[k].fetch_add(1);
                    releases.answered_on[k] = std::this_thread::get_id();
                    return true;
                },
                [&](std::size_t begin, std::size_t end) {
                    // Answered before it is consumed.
                    for (std::size_t k = begin; k < end; ++k) CHECK_EQ(answers[k], k * k);
                    return in_order.consumer()(begin, end);
                },
                releases.release(in_order));
            CHECK_EQ(releases.released_prefix(std::this_thread::get_id()), count);
            CHECK(!outcome.interrupted);
            CHECK(!outcome.consumer_stopped);
            CHECK(!outcome.failed_at);
            CHECK_EQ(in_order.consumed.load(), count);
            for (std::size_t k = 0; k < count; ++k) CHECK_EQ(visits[k].load(), 1);
        }
    }
}

// A worker's query that lasts until the calling thread has answered one of
// its own: the calling thread answers chunks rather than wait for it. (A
// calling thread that only waited would leave the worker to give up after
// the deadline, with nothing answered on the calling thread.)
KELNOR_TEST(batch_calling_thread_answers_while_a_worker_is_busy) {
    const std::thread::id calling_thread = std::this_thread::get_id();
    std::atomic<std::size_t> answered_here{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    InOrder in_order;
    run_batch(
        1000, 2, {},
        [&](std::size_t, const InterruptCheck&) {
            if (std::this_thread::get_id() == calling_thread) {
                answered_here.fetch_add(1);
                return true;
            }
            while (answered_here.load() == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            return true;
        },
        in_order.consumer());
    CHECK_EQ(in_order.consumed.load(), 1000u);
    CHECK(answered_here.load() > 0);
}

KELNOR_TEST(batch_keeps_the_earliest_failure_thrown_or_returned) {
    for (const std::size_t threads : {1u, 2u, 4u}) {
        for (const bool thrown : {false, true}) {
            // Inputs 3000 and 900 fail; the later one is often met first.
            std::vector<std::atomic<int>> visits(4000);
            InOrder in_order;
            Releases releases(4000);
            const BatchOutcome outcome = run_batch(
                4000, threads, {},
                [&](std::size_t k, const InterruptCheck&) {
                    visits[k].fetch_add(1);
                    releases.answered_on[k] = std::this_thread::get_id();
                    if (k != 3000 && k != 900) return true;
                    if (thrown) throw std::runtime_error("input " + std::to_string(k));
                    return false;
                },
                in_order.consumer(), releases.release(in_order));
            // Not the failure's chunk: the caller still reads its answer.
            const std::size_t released = releases.released_prefix(std::this_thread::get_id());
            CHECK(released <= 900 && released + 64 > 900);
            CHECK(!outcome.interrupted);
            CHECK(outcome.failed_at == std::optional<std::size_t>(900));
            CHECK_EQ(in_order.consumed.load(), 900u);
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
        InOrder in_order;
        const BatchOutcome outcome = run_batch(
            1000, threads, host,
            [&](std::size_t, const InterruptCheck& interrupt) {
                while (!interrupt()) {
                }
                answered.fetch_add(1);
                throw Interrupted();
                return true;
            },
            in_order.consumer());
        CHECK(outcome.interrupted);
        CHECK_EQ(in_order.consumed.load(), 0u);
        CHECK(!outcome.failed_at);
        CHECK_EQ(asked, 3);
        CHECK(answered.load() <= threads);
    }
}

KELNOR_TEST(batch_stops_when_the_consumer_says_stop) {
    for (const std::size_t threads : {1u, 2u, 4u}) {
        InOrder in_order;
        in_order.until = 1;
        const BatchOutcome outcome = run_batch(
            100000, threads, {}, [](std::size_t, const InterruptCheck&) { return true; },
            in_order.consumer());
        CHECK(outcome.consumer_stopped);
        CHECK(!outcome.interrupted);
        CHECK(!outcome.failed_at);
        // The first chunk, not the batch.
        CHECK(in_order.consumed.load() <= 64);
    }
}

KELNOR_TEST(batch_threads_follow_the_request_within_bounds) {
    CHECK_EQ(batch_threads(1, 100), 1u);
    CHECK_EQ(batch_threads(4, 3), 3u);
    CHECK_EQ(batch_threads(4, 0), 1u);
    CHECK_EQ(batch_threads(100000, 100000), MOST_BATCH_WORKERS);
    CHECK(batch_threads(0, 1000) >= 1);
}

KELNOR_TEST(batch_answers_in_text_order_asking_each_text_once) {
    // Bytes compare unsigned ("\xc3" after "z"), a shorter text first, texts
    // alike in their first 8 bytes by the rest, and equal ones in input order.
    const std::vector<std::string_view> texts = {
        "zebra", "\xc3\xa9t\xc3\xa9", "", "abcdefgh-2", "abc", "abcdefgh-1", "zebra", "abcdefgh-2"};
    const AnsweringOrder order = answering_order(texts);
    CHECK_EQ(order.inputs, (std::vector<std::size_t>{2, 4, 5, 3, 7, 0, 6, 1}));
    CHECK_EQ(order.asked_at, (std::vector<std::size_t>{0, 1, 2, 3, 3, 5, 5, 7}));
    CHECK(answering_order({}).inputs.empty());
}

KELNOR_TEST(batch_order_is_a_stable_sort_by_text) {
    // Texts of 0 to 11 bytes from a few byte values (0 and 255 among them),
    // so that keys tie, texts repeat and differ past their first 8 bytes.
    const std::string_view alphabet("\0a\xffz", 4);
    std::uint64_t state = 12345;
    for (const std::size_t count : {1, 2, 17, 300, 5000}) {
        std::vector<std::string> owned(count);
        for (std::string& text : owned) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            text.resize((state >> 33) % 12);
            for (char& c : text) {
                state = state * 6364136223846793005u + 1442695040888963407u;
                c = alphabet[(state >> 33) % (text.size() > 6 ? 2 : 4)];
            }
        }
        const std::vector<std::string_view> texts(owned.begin(), owned.end());
        std::vector<std::size_t> expected(count);
        for (std::size_t k = 0; k < count; ++k) expected[k] = k;
        std::stable_sort(expected.begin(), expected.end(),
                         [&](std::size_t a, std::size_t b) { return texts[a] < texts[b]; });
        const AnsweringOrder order = answering_order(texts);
        CHECK_EQ(order.inputs, expected);
        for (std::size_t p = 0; p < count; ++p) {
            const std::size_t asked = order.asked_at[p];
            CHECK(asked <= p);
            CHECK(texts[order.inputs[asked]] == texts[order.inputs[p]]);
            CHECK(asked == 0 || texts[order.inputs[asked - 1]] != texts[order.inputs[p]]);
        }
    }
}

}  // namespace
}  // namespace kelnor::core_test
