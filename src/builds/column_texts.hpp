// The texts of an Arrow string column as views, for the queries of a batch:
// each row checked as a query text must be, since the producer's bytes are
// not Python strings that the interpreter already checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/interrupt_check.hpp"
#include "builds/column_pieces.hpp"
#include "builds/column_views.hpp"

namespace kelnor::columns {

// Why a row is no query text.
struct TextRowRefusal {
    enum class Kind : std::uint8_t {
        Null,     // no value
        Damaged,  // its offsets, view or dictionary key point outside the producer's buffers
        NotUtf8,  // bytes that are not well-formed UTF-8
    } kind;
    std::size_t row;
};

// The texts of the rows of `pieces` in order, appended to `texts`, up to the
// first row refused (returned; `texts` then holds the rows before it).
// Polls `interrupt` every few thousand rows.
std::optional<TextRowRefusal> append_texts(std::span<const ColumnPiece<TextColumn>> pieces,
                                           std::vector<std::string_view>& texts,
                                           const InterruptCheck& interrupt);

}  // namespace kelnor::columns
