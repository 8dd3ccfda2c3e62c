// A small self-contained test runner for the core, with no framework behind
// it so that it builds wherever the core builds (a 32-bit target included).
//
//     KELNOR_TEST(varint_of_250_is_one_byte) {
//         CHECK_EQ(encode_u32(250), bytes({0xFA}));
//     }
//
// A failed CHECK records the file, line and values and lets the test go on;
// an exception that escapes a test fails that test. The runner executes every
// test (or those whose name contains the first command-line argument) and
// exits non-zero when any failed.
#pragma once

#include <concepts>
#include <cstdint>
#include <exception>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/internal_failure.hpp"

namespace kelnor::core_test {

using TestFunction = void (*)();

struct Registration {
    Registration(const char* name, TestFunction run);
};

void record_failure(const char* file, int line, const std::string& what);

template <class T>
std::string show(const T& value);

template <class T>
void show_into(std::ostringstream& out, const T& value) {
    if constexpr (std::same_as<T, std::string> || std::same_as<T, std::string_view>) {
        out << '"' << value << '"';
    } else if constexpr (std::same_as<T, char32_t>) {
        out << "U+" << std::hex << static_cast<std::uint32_t>(value) << std::dec;
    } else if constexpr (std::same_as<T, std::uint8_t> || std::same_as<T, bool>) {
        out << static_cast<unsigned>(value);
    } else if constexpr (std::same_as<T, std::nullopt_t>) {
        out << "nullopt";
    } else if constexpr (requires {
                             value.has_value();
                             *value;
                         }) {
        if (value.has_value()) {
            show_into(out, *value);
        } else {
            out << "nullopt";
        }
    } else if constexpr (requires {
                             value.first;
                             value.second;
                         }) {
        out << '(' << show(value.first) << ", " << show(value.second) << ')';
    } else if constexpr (requires {
                             value.begin();
                             value.end();
                         }) {
        out << '[';
        const char* separator = "";
        for (const auto& item : value) {
            out << separator << show(item);
            separator = ", ";
        }
        out << ']';
    } else {
        out << value;
    }
}

template <class T>
std::string show(const T& value) {
    std::ostringstream out;
    show_into(out, value);
    return out.str();
}

// The message of the InternalFailure that `action` raises, or nothing when it
// returns normally. Other exceptions pass through and fail the test.
template <class Action>
std::optional<std::string> internal_failure_of(Action&& action) {
    try {
        std::forward<Action>(action)();
    } catch (const InternalFailure& failure) {
        return std::string(failure.what());
    }
    return std::nullopt;
}

}  // namespace kelnor::core_test

#define KELNOR_TEST(name)                                                             \
    static void name();                                                               \
    static const ::kelnor::core_test::Registration name##_registration(#name, &name); \
    static void name()

#define CHECK(condition)                                                                      \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            ::kelnor::core_test::record_failure(__FILE__, __LINE__, "CHECK(" #condition ")"); \
        }                                                                                     \
    } while (false)

#define CHECK_EQ(actual, expected)                                                    \
    do {                                                                              \
        const auto& check_actual_ = (actual);                                         \
        const auto& check_expected_ = (expected);                                     \
        if (!(check_actual_ == check_expected_)) {                                    \
            ::kelnor::core_test::record_failure(                                      \
                __FILE__, __LINE__,                                                   \
                "CHECK_EQ(" #actual ", " #expected ")\n    actual:   " +              \
                    ::kelnor::core_test::show(check_actual_) +                        \
                    "\n    expected: " + ::kelnor::core_test::show(check_expected_)); \
        }                                                                             \
    } while (false)

// The statement must raise InternalFailure with exactly `message`.
#define CHECK_INTERNAL_FAILURE(statement, message)                         \
    CHECK_EQ(::kelnor::core_test::internal_failure_of([&] { statement; }), \
             std::optional<std::string>(message))
