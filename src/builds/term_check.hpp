// The test every new term passes before it goes into an index, as the record
// path makes it: not empty, at most MAX_TERM_BYTES of UTF-8, and no NUL (an
// edge that no query may take) nor a surrogate (no text has one).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "builds/row_refusal.hpp"

namespace kelnor::columns {

// The longest term an index takes, in bytes of UTF-8: a node per character
// costs tens of bytes in the index, so one runaway line would otherwise make
// an index of gigabytes.
inline constexpr std::size_t MAX_TERM_BYTES = std::size_t{1} << 16;

// The refusal of `term` (without its row), or nothing when it may be indexed.
std::optional<RowRefusal> term_refusal(std::string_view term);

}  // namespace kelnor::columns
