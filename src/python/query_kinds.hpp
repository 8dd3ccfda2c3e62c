// The four query kinds as the binding runs them, each in three steps shared
// by its single call and its batch: read the options (the arguments after
// the text, with the single call's messages), ask the core about one text
// (without the interpreter lock), and turn the core's answer into the
// method's result (with the lock).
//
// Each kind has:
//   Answer                   the core's answer for one text
//   TEXT                     the name of the single call's text argument
//   Kind(options)            reads the option slots (null: absent)
//   ask(index, text, check)  the core's answer, never touching Python
//   answered(answer)         false when the answer is a refusal (search: too
//                            many words), which result() raises
//   result(index, answer)    the Python result
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "kelnor.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

struct MatchQuery {
    using Answer = std::vector<MatchResult>;
    static constexpr const char* TEXT = "term";

    explicit MatchQuery(std::span<PyObject* const> options);
    Answer ask(const PrefixSearch& index, std::string_view term,
               const InterruptCheck& interrupt) const;
    static bool answered(const Answer&) noexcept { return true; }
    PyRef result(const PrefixSearch& index, const Answer& answer) const;

    std::uint32_t max_dist;
    std::optional<std::uint32_t> limit;
};

struct VideoQuery {
    using Answer = std::vector<VideoScore>;
    static constexpr const char* TEXT = "term";

    explicit VideoQuery(std::span<PyObject* const> options);
    Answer ask(const PrefixSearch& index, std::string_view term,
               const InterruptCheck& interrupt) const;
    static bool answered(const Answer&) noexcept { return true; }
    PyRef result(const PrefixSearch& index, const Answer& answer) const;

    std::uint32_t max_dist;
    std::optional<std::uint32_t> limit;
    std::optional<bool> include_prefix_nodes;
    std::optional<double> min_score;
};

struct SuggestQuery {
    using Answer = std::vector<Suggestion>;
    static constexpr const char* TEXT = "text";

    explicit SuggestQuery(std::span<PyObject* const> options);
    Answer ask(const PrefixSearch& index, std::string_view text,
               const InterruptCheck& interrupt) const;
    static bool answered(const Answer&) noexcept { return true; }
    PyRef result(const PrefixSearch& index, const Answer& answer) const;

    // Nothing: default_suggest_bound() of each text.
    std::optional<std::uint32_t> max_dist;
    SuggestOptions options;
};

struct SearchQuery {
    using Answer = Result<std::vector<VideoScore>, TooManyWords>;
    static constexpr const char* TEXT = "text";

    explicit SearchQuery(std::span<PyObject* const> options);
    Answer ask(const PrefixSearch& index, std::string_view text,
               const InterruptCheck& interrupt) const;
    static bool answered(const Answer& answer) noexcept { return answer.ok(); }
    PyRef result(const PrefixSearch& index, const Answer& answer) const;

    SearchOptions options;
};

}  // namespace kelnor::py
