// Moving a column view's first row: a struct array's children share their
// parent's offset, and a piece of a chunked column may start within a chunk.
#pragma once

#include <cstdint>
#include <variant>

#include "builds/column_views.hpp"

namespace kelnor::columns {

inline void shift_rows(TextColumn& column, std::int64_t by) noexcept {
    column.offset += by;
}

inline void shift_rows(IntColumn& column, std::int64_t by) noexcept {
    column.offset += by;
}

inline void shift_rows(VideoColumn& column, std::int64_t by) noexcept {
    std::visit(
        [&](auto& inner) {
            if constexpr (requires { inner.values.offset; }) {
                inner.values.offset += by;
            } else {
                inner.offset += by;
            }
        },
        column);
}

}  // namespace kelnor::columns
