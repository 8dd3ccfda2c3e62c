// The test every new term passes before it goes into an index, as the record
// path makes it: not empty, UTF-8, and no NUL (an edge that no query may
// take) nor a surrogate (no text has one).
#pragma once

#include <optional>
#include <string_view>

#include "columns/row_refusal.hpp"

namespace kelnor::columns {

// The refusal of `term` (without its row), or nothing when it may be indexed.
std::optional<RowRefusal> term_refusal(std::string_view term);

}  // namespace kelnor::columns
