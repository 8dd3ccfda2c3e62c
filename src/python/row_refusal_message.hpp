// The words of a refused row, as the record path words the same refusals.
#pragma once

#include <Python.h>

#include "kelnor.hpp"
#include "python/ref.hpp"

namespace kelnor::py {

// The message of `refusal` (without its row or line), as a str; `separator`
// names the fields of a records file's line.
PyRef row_refusal_message(const columns::RowRefusal& refusal,
                          columns::Separator separator = columns::Separator::Tab);

}  // namespace kelnor::py
